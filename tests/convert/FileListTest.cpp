#include "app/convert/FileList.h"

#include <algorithm>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

namespace
{

void Touch(const std::string& path)
{
    WriteFileBytes(path, "x");
}

std::vector<TSkipReason> Reasons(const TListAddition& addition)
{
    std::vector<TSkipReason> reasons;
    for (const TSkippedFile& skipped : addition.Skipped)
        reasons.push_back(skipped.Reason);
    return reasons;
}

// A bound unix socket at path; the descriptor stays open for the test's lifetime.
class ScopedSocket
{
public:
    explicit ScopedSocket(const std::string& path) : m_fd(socket(AF_UNIX, SOCK_STREAM, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        m_bound = m_fd >= 0 && path.size() < sizeof address.sun_path &&
                  bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~ScopedSocket()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    ScopedSocket(const ScopedSocket&) = delete;
    ScopedSocket& operator=(const ScopedSocket&) = delete;
    bool Bound() const { return m_bound; }

private:
    int m_fd;
    bool m_bound = false;
};

} // namespace

TEST(ExtensionTest, SubstringOfTheUpperCasedFilter)
{
    EXPECT_TRUE(ExtensionIsAccepted("/p/a.JPG"));
    EXPECT_TRUE(ExtensionIsAccepted("/p/x.jpe")); // the start of *.JPEG
    EXPECT_TRUE(ExtensionIsAccepted("/p/x.tiff"));
    EXPECT_TRUE(ExtensionIsAccepted("/p/x.Emf"));
    EXPECT_TRUE(ExtensionIsAccepted("/p/.png")); // a dot file is a name with an extension
    EXPECT_TRUE(ExtensionIsAccepted("x.tar.gif"));

    EXPECT_FALSE(ExtensionIsAccepted("/p/x.jp2"));
    EXPECT_FALSE(ExtensionIsAccepted("/p/d"));
    EXPECT_FALSE(ExtensionIsAccepted("/p/b.txt"));
    EXPECT_FALSE(ExtensionIsAccepted("/p/x.gif.txt")); // only the last dot counts
    EXPECT_FALSE(ExtensionIsAccepted("/p.jpg/d"));     // a dot in the folder is no extension
    // Only a..z are upper-cased: a byte beyond ASCII never matches a letter of the filter.
    EXPECT_FALSE(ExtensionIsAccepted("/p/x.\xC3\xA9mf"));
}

TEST(NaturalOrderTest, CaseIgnoredNumbersByValueTotalByBytes)
{
    std::vector<std::string> names = {"img10.png",
                                      "img2.png",
                                      "IMG1.png",
                                      "img02.png",
                                      "b.png",
                                      "A.png",
                                      "a.png",
                                      "x100000000000000000000.png",
                                      "x99999999999999999999.png"};
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return NaturalNameLess(a, b); });
    const std::vector<std::string> expected = {"A.png",
                                               "a.png",
                                               "b.png",
                                               "IMG1.png",
                                               "img02.png",
                                               "img2.png",
                                               "img10.png",
                                               "x99999999999999999999.png",
                                               "x100000000000000000000.png"};
    EXPECT_EQ(names, expected);
    EXPECT_FALSE(NaturalNameLess("a.png", "a.png"));
    EXPECT_TRUE(NaturalNameLess("img", "img1"));
}

TEST(FileListTest, FileIsPresentOnlyForRegularFiles)
{
    TTempDir dir;
    Touch(dir.File("a.jpg"));
    ASSERT_EQ(mkdir(dir.File("sub.jpg").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(dir.File("pipe.jpg").c_str(), 0644), 0);
    ASSERT_EQ(symlink("a.jpg", dir.File("link.jpg").c_str()), 0);
    ASSERT_EQ(symlink("gone.jpg", dir.File("dangling.jpg").c_str()), 0);

    EXPECT_TRUE(FileIsPresent(dir.File("a.jpg")));
    EXPECT_TRUE(FileIsPresent(dir.File("link.jpg")));
    EXPECT_FALSE(FileIsPresent(dir.File("sub.jpg")));
    EXPECT_FALSE(FileIsPresent(dir.File("pipe.jpg")));
    EXPECT_FALSE(FileIsPresent(dir.File("dangling.jpg")));
    EXPECT_FALSE(FileIsPresent(dir.File("missing.jpg")));
    EXPECT_FALSE(FileIsPresent(""));
}

TEST(FileListTest, AddFilesKeepsOrderAndSkipsMissingAndDuplicates)
{
    TTempDir dir;
    Touch(dir.File("b.jpg"));
    Touch(dir.File("a.jpg"));
    Touch(dir.File("A.jpg"));
    Touch(dir.File("notes.txt")); // Add files makes no extension test
    ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0755), 0);

    TPictureList list = {dir.File("a.jpg")};
    const TListAddition addition = AddFiles(
        list, {dir.File("b.jpg"), dir.File("a.jpg"), dir.File("missing.png"), dir.File("A.jpg"),
               dir.File("sub"), dir.File("b.jpg"), dir.File("notes.txt")});

    EXPECT_EQ(list, (TPictureList{dir.File("a.jpg"), dir.File("b.jpg"), dir.File("A.jpg"),
                                  dir.File("notes.txt")}));
    EXPECT_EQ(addition.Added, (std::vector<std::string>{dir.File("b.jpg"), dir.File("A.jpg"),
                                                        dir.File("notes.txt")}));
    EXPECT_EQ(Reasons(addition),
              (std::vector<TSkipReason>{TSkipReason::Duplicate, TSkipReason::NotFound,
                                        TSkipReason::NotFound, TSkipReason::Duplicate}));
    EXPECT_EQ(addition.Skipped[1].Path, dir.File("missing.png"));
    EXPECT_EQ(SkipReasonText(addition.Skipped[1]), "not found");
}

TEST(FileListTest, AddFolderTakesOnlyAcceptedFilesOfTheFolder)
{
    TTempDir dir;
    Touch(dir.File("a.JPG"));
    Touch(dir.File("b.txt"));
    Touch(dir.File("~$c.jpg"));
    Touch(dir.File("d"));
    ASSERT_EQ(mkdir(dir.File("sub.jpg").c_str(), 0755), 0);
    Touch(dir.File("sub.jpg/inner.jpg"));

    TPictureList list;
    const TListAddition addition = AddFolder(list, dir.Path());
    EXPECT_EQ(list, TPictureList{dir.File("a.JPG")});
    EXPECT_EQ(Reasons(addition),
              (std::vector<TSkipReason>{TSkipReason::NotAPictureType, TSkipReason::NotAPictureType,
                                        TSkipReason::TemporaryFile}));
}

TEST(FileListTest, AddFolderOrderDotFilesSpecialFilesAndDuplicates)
{
    TTempDir dir;
    for (const char* name : {"img10.png", "img2.png", "IMG1.gif", ".hidden.bmp", "x.jpe", "x.jp2"})
        Touch(dir.File(name));
    ASSERT_EQ(mkfifo(dir.File("pipe.png").c_str(), 0644), 0);
    ASSERT_EQ(symlink("img2.png", dir.File("link.tif").c_str()), 0);
    ASSERT_EQ(symlink("gone.png", dir.File("dangling.png").c_str()), 0);
    const ScopedSocket socketFile(dir.File("sock.png"));
    EXPECT_TRUE(socketFile.Bound());

    TPictureList list = {dir.File("img2.png")};
    // A trailing slash is dropped, so the paths match the entry already in the list.
    const TListAddition addition = AddFolder(list, dir.Path() + "/");
    EXPECT_EQ(list,
              (TPictureList{dir.File("img2.png"), dir.File(".hidden.bmp"), dir.File("IMG1.gif"),
                            dir.File("img10.png"), dir.File("link.tif"), dir.File("x.jpe")}));
    ASSERT_EQ(Reasons(addition),
              (std::vector<TSkipReason>{TSkipReason::Duplicate, TSkipReason::NotAPictureType}));
    EXPECT_EQ(addition.Skipped[0].Path, dir.File("img2.png"));
    EXPECT_EQ(addition.Skipped[1].Path, dir.File("x.jp2"));

    // Adding the same folder again appends nothing.
    const TListAddition again = AddFolder(list, dir.Path());
    EXPECT_TRUE(again.Added.empty());
    EXPECT_EQ(list.size(), 6u);
}

TEST(FileListTest, AddFolderTemporaryMarkAnywhereInThePathAndUnreadableFolder)
{
    TTempDir dir;
    ASSERT_EQ(mkdir(dir.File("a~$b").c_str(), 0755), 0);
    Touch(dir.File("a~$b/x.png"));
    TPictureList list;
    const TListAddition marked = AddFolder(list, dir.File("a~$b"));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(Reasons(marked), std::vector<TSkipReason>{TSkipReason::TemporaryFile});

    const TListAddition missing = AddFolder(list, dir.File("nowhere"));
    ASSERT_EQ(Reasons(missing), std::vector<TSkipReason>{TSkipReason::FolderUnreadable});
    EXPECT_EQ(SkipReasonText(missing.Skipped[0]),
              "cannot read the folder: No such file or directory");
    EXPECT_TRUE(list.empty());
}
