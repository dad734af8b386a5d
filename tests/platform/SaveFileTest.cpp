#include "platform/SaveFile.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <regex>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/Exceptions.h"
#include "tests/support/TestSupport.h"

namespace
{

// The names in folder, sorted: what a save left behind.
std::vector<std::string> Entries(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
    {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

using Names = std::vector<std::string>;

unsigned ModeOf(const std::string& path)
{
    struct stat info
    {
    };
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    EXPECT_TRUE(S_ISREG(info.st_mode)) << path;
    return info.st_mode & 07777;
}

template <class E>
std::string MessageOf(const std::function<void()>& action)
{
    try
    {
        action();
    }
    catch (const E& e)
    {
        return e.what();
    }
    return "<nothing raised>";
}

// Limits the size of the files this process writes, so the file system takes the part of a
// write that fits and refuses the rest (EFBIG), as a full disk does.
class ScopedFileSizeLimit
{
public:
    explicit ScopedFileSizeLimit(rlim_t bytes) : m_oldHandler(std::signal(SIGXFSZ, SIG_IGN))
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    ~ScopedFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

private:
    rlimit m_old{};
    void (*m_oldHandler)(int);
};

TEST(SaveFileTest, CommitPutsTheFileInPlaceAtOnce)
{
    TTempDir dir;
    const std::string target = dir.File("out.pdf");
    WriteFileBytes(target, "old");
    {
        TSaveFile save(target);
        save.Stream().Write("new ");
        save.Stream().Write(std::string(100000, 'x'));
        // Until the commit the old file stands, and the new one waits beside it.
        EXPECT_EQ(ReadFileBytes(target), "old");
        const Names entries = Entries(dir.Path());
        ASSERT_EQ(entries.size(), 2U);
        EXPECT_TRUE(std::regex_match(entries[0], std::regex(R"(\.out\.pdf\.[A-Za-z0-9]{6}\.tmp)")))
            << entries[0];
        save.Commit();
        EXPECT_EQ(MessageOf<EInvalidOperation>([&] { save.Commit(); }),
                  "Commit --the file is not open.");
        EXPECT_THROW(save.Stream().Write("late"), EFileError);
    }
    EXPECT_EQ(ReadFileBytes(target), "new " + std::string(100000, 'x'));
    EXPECT_EQ(Entries(dir.Path()), Names{"out.pdf"});
}

TEST(SaveFileTest, CancelOrAFailingWriterLeavesTheTargetAsItWas)
{
    TTempDir dir;
    const std::string target = dir.File("out.pdf");
    WriteFileBytes(target, "old");
    {
        TSaveFile save(target);
        save.Stream().Write("never seen");
    }
    {
        TSaveFile save(target);
        save.Stream().Write("never seen");
        save.Cancel();
        EXPECT_THROW(save.Stream().Write("x"), EFileError);
        EXPECT_THROW(save.Commit(), EInvalidOperation);
    }
    EXPECT_THROW(
        {
            TSaveFile save(target);
            save.Stream().Write(std::string(200000, 'x'));
            throw Exception("the writer gave up");
        },
        Exception);
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_EQ(Entries(dir.Path()), Names{"out.pdf"});
}

TEST(SaveFileTest, AFileSystemThatTakesPartOfAWriteAndRefusesTheRestLeavesNothing)
{
    TTempDir dir;
    const std::string target = dir.File("out.pdf");
    WriteFileBytes(target, "old");
    const std::string tooLarge = "Cannot write file \"" + target + "\": File too large";
    {
        const ScopedFileSizeLimit limit(100000);
        // A large write reaches the file at once: 100000 bytes go in, the rest is refused.
        EXPECT_EQ(MessageOf<EFileError>([&] {
                      TSaveFile save(target);
                      save.Stream().Write(std::string(150000, 'x'));
                      save.Commit();
                  }),
                  tooLarge);
        // Buffered small writes fail when they are flushed, here by the commit.
        EXPECT_EQ(MessageOf<EFileError>([&] {
                      TSaveFile save(target);
                      for (int i = 0; i < 10; ++i)
                      {
                          save.Stream().Write(std::string(10001, 'y'));
                      }
                      save.Commit();
                  }),
                  tooLarge);
        EXPECT_EQ(ReadFileBytes(target), "old");
        EXPECT_EQ(Entries(dir.Path()), Names{"out.pdf"});

        // Exactly as much as the file system takes is no failure.
        TSaveFile save(target);
        save.Stream().Write(std::string(100000, 'z'));
        save.Commit();
    }
    EXPECT_EQ(ReadFileBytes(target), std::string(100000, 'z'));
    EXPECT_EQ(Entries(dir.Path()), Names{"out.pdf"});
}

TEST(SaveFileTest, FailuresNameTheTargetAndLeaveNothing)
{
    TTempDir dir;
    EXPECT_EQ(MessageOf<EFileError>([] { TSaveFile save(""); }),
              "Cannot create file \"\": No such file or directory");
    const std::string missing = dir.File("no/such/out.pdf");
    EXPECT_EQ(MessageOf<EFileError>([&] { TSaveFile save(missing); }),
              "Cannot create file \"" + missing + "\": No such file or directory");

    // A folder in the way of the rename.
    const std::string folder = dir.File("taken");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    EXPECT_EQ(MessageOf<EFileError>([&] {
                  TSaveFile save(folder);
                  save.Stream().Write("bytes");
                  save.Commit();
              }),
              "Cannot write file \"" + folder + "\": Is a directory");
    EXPECT_EQ(Entries(dir.Path()), Names{"taken"});
}

TEST(SaveFileTest, OnlyTheStartOfALongNameGoesIntoTheTemporaryName)
{
    // 254 bytes: a valid name, though one with the temporary file's dots and suffix added
    // would not be.
    TTempDir dir;
    const std::string name = std::string(250, 'a') + ".pdf";
    TSaveFile save(dir.File(name));
    EXPECT_EQ(Entries(dir.Path()).at(0).substr(0, 202), "." + std::string(200, 'a') + ".");
    save.Stream().Write("x");
    save.Commit();
    EXPECT_EQ(Entries(dir.Path()), Names{name});
}

TEST(SaveFileTest, ANewFileTakesTheUmaskAReplacedOneKeepsItsBits)
{
    TTempDir dir;
    const auto save = [](const std::string& path) {
        TSaveFile file(path);
        file.Stream().Write("new");
        file.Commit();
        return ModeOf(path);
    };
    const mode_t old = ::umask(027);
    EXPECT_EQ(save(dir.File("new.pdf")), 0640U);
    ::umask(0);
    EXPECT_EQ(save(dir.File("open.pdf")), 0666U);
    ::umask(old);

    WriteFileBytes(dir.File("kept.pdf"), "old");
    ASSERT_EQ(::chmod(dir.File("kept.pdf").c_str(), 0604), 0);
    EXPECT_EQ(save(dir.File("kept.pdf")), 0604U);

    // A symbolic link is replaced by the file; what it pointed to stays as it was.
    WriteFileBytes(dir.File("target"), "target");
    ASSERT_EQ(::symlink("target", dir.File("link.pdf").c_str()), 0);
    save(dir.File("link.pdf"));
    EXPECT_EQ(ReadFileBytes(dir.File("target")), "target");
    EXPECT_EQ(ReadFileBytes(dir.File("link.pdf")), "new");
}

TEST(SaveFileTest, WithoutPrivilegesAnUnwritableFolderIsRefused)
{
    RunUnprivileged([] {
        TTempDir dir;
        const std::string folder = dir.File("locked");
        ASSERT_EQ(::mkdir(folder.c_str(), 0555), 0);
        EXPECT_EQ(MessageOf<EFileError>([&] { TSaveFile save(folder + "/out.pdf"); }),
                  "Cannot create file \"" + folder + "/out.pdf\": Permission denied");
        EXPECT_EQ(Entries(folder), Names{});

        // A read-only file of one's own in a writable folder is replaced and stays read-only.
        WriteFileBytes(dir.File("ro.pdf"), "old");
        ASSERT_EQ(::chmod(dir.File("ro.pdf").c_str(), 0444), 0);
        TSaveFile save(dir.File("ro.pdf"));
        save.Stream().Write("new");
        save.Commit();
        EXPECT_EQ(ReadFileBytes(dir.File("ro.pdf")), "new");
        EXPECT_EQ(ModeOf(dir.File("ro.pdf")), 0444U);
    });
}

TEST(SaveFileTest, WithoutPrivilegesAnotherUsersFileInASharedFolderIsKept)
{
    if (::geteuid() != 0)
    {
        GTEST_SKIP() << "only root can give the file to another user";
    }
    // A folder like /tmp: anyone may create files, only a file's owner may replace it.
    TTempDir dir;
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    const std::string shared = dir.File("shared");
    ASSERT_EQ(::mkdir(shared.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    const std::string target = shared + "/out.pdf";
    WriteFileBytes(target, "root's");
    RunUnprivileged([&] {
        EXPECT_EQ(MessageOf<EFileError>([&] {
                      TSaveFile save(target);
                      save.Stream().Write("nobody's");
                      save.Commit();
                  }),
                  "Cannot write file \"" + target + "\": Operation not permitted");
    });
    EXPECT_EQ(ReadFileBytes(target), "root's");
    EXPECT_EQ(Entries(shared), Names{"out.pdf"});
}

TEST(SaveFileTest, TheSignalPathRemovesPendingFilesOnly)
{
    TTempDir dir;
    WriteFileBytes(dir.File("a.pdf"), "old a");
    TSaveFile a(dir.File("a.pdf"));
    TSaveFile b(dir.File("b.pdf"));
    {
        TSaveFile done(dir.File("done.pdf"));
        done.Commit();
    }
    EXPECT_EQ(Entries(dir.Path()).size(), 4U);
    RemovePendingTemporaryFiles();
    EXPECT_EQ(Entries(dir.Path()), (Names{"a.pdf", "done.pdf"}));
    EXPECT_EQ(ReadFileBytes(dir.File("a.pdf")), "old a");
}

TEST(CanReplaceFileTest, FilesLinksAndNewNamesInWritableFolders)
{
    TTempDir dir;
    WriteFileBytes(dir.File("old.pdf"), "old");
    EXPECT_TRUE(CanReplaceFile(dir.File("old.pdf")));
    EXPECT_TRUE(CanReplaceFile(dir.File("new.pdf")));
    // A read-only file is renamed over: its folder decides.
    std::filesystem::permissions(dir.File("old.pdf"), std::filesystem::perms::owner_read);
    EXPECT_TRUE(CanReplaceFile(dir.File("old.pdf")));
    // A link is replaced, whatever it points at.
    std::filesystem::create_directory(dir.File("sub"));
    std::filesystem::create_directory_symlink(dir.File("sub"), dir.File("link.pdf"));
    EXPECT_TRUE(CanReplaceFile(dir.File("link.pdf")));
    EXPECT_EQ(ReadFileBytes(dir.File("old.pdf")), "old");
}

TEST(CanReplaceFileTest, FoldersAndMissingFoldersAreRefused)
{
    TTempDir dir;
    std::filesystem::create_directory(dir.File("sub.pdf"));
    EXPECT_FALSE(CanReplaceFile(dir.File("sub.pdf")));
    EXPECT_FALSE(CanReplaceFile(dir.File("sub.pdf") + "/"));
    EXPECT_FALSE(CanReplaceFile(dir.File("missing/out.pdf")));
    EXPECT_FALSE(CanReplaceFile(""));
}

TEST(CanReplaceFileTest, FolderThatRefusesWriting)
{
    RunUnprivileged([] {
        TTempDir dir;
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
        EXPECT_FALSE(CanReplaceFile(dir.File("out.pdf")));
        ::chmod(dir.Path().c_str(), 0755);
    });
}

TEST(CanReplaceFileTest, AnothersFileInAStickyFolder)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to leave a file of another owner";
    const std::string shared = "/tmp/pictova-sticky-" + std::to_string(::getpid());
    std::filesystem::create_directory(shared);
    ::chmod(shared.c_str(), 01777);
    WriteFileBytes(shared + "/out.pdf", "root's");
    RunUnprivileged([&] {
        EXPECT_FALSE(CanReplaceFile(shared + "/out.pdf"));
        EXPECT_TRUE(CanReplaceFile(shared + "/new.pdf"));
    });
    std::filesystem::remove_all(shared);
}

} // namespace
