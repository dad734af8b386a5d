#include "platform/SpoolFile.h"

#include <gtest/gtest.h>

#include "platform/Exceptions.h"
#include "platform/Stream.h"
#include "tests/support/TestSupport.h"

namespace
{

std::string Pattern(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 7 % 251);
    return bytes;
}

std::string Copied(const TSpoolFile& spool, std::int64_t offset, std::int64_t length)
{
    TMemoryStream out;
    spool.CopyTo(offset, length, out);
    return out.Bytes();
}

// Both kinds of file (nameless, and named but unlinked at once) hold the bytes in order, over
// the copy's chunk boundaries, and never show in the folder.
TEST(TSpoolFile, HoldsTheBytesAndNeverShowsInItsFolder)
{
    TTempDir dir;
    for (const bool named : {false, true})
    {
        const std::string big = Pattern(2'500'000);
        {
            TSpoolFile spool(dir.Path(), named);
            EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{});
            EXPECT_EQ(spool.Append(big.data(), big.size()), 0);
            EXPECT_EQ(spool.Append("tail", 4), 2'500'000);
            EXPECT_EQ(spool.Append("", 0), 2'500'004);
            EXPECT_EQ(spool.Size(), 2'500'004);
            EXPECT_EQ(Copied(spool, 0, 2'500'004), big + "tail");
            EXPECT_EQ(Copied(spool, 2'499'998, 4), big.substr(2'499'998) + "ta");
            EXPECT_EQ(Copied(spool, 7, 0), "");
            EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{});
            EXPECT_THROW(Copied(spool, 2'500'000, 10), EFileError); // past the end
        }
        EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{});
    }
}

TEST(TSpoolFile, TheFolderIsTmpdirAndAMissingOneIsAClearError)
{
    TTempDir dir;
    {
        const ScopedEnv tmpdir("TMPDIR", dir.Path());
        EXPECT_EQ(TemporaryFolder(), dir.Path());
        EXPECT_EQ(TSpoolFile().Folder(), dir.Path());
    }
    {
        const ScopedEnv tmpdir("TMPDIR", "");
        EXPECT_EQ(TemporaryFolder(), "/tmp");
    }
    for (const bool named : {false, true})
    {
        try
        {
            TSpoolFile spool(dir.File("gone"), named);
            ADD_FAILURE() << "no exception";
        }
        catch (const EFileError& e)
        {
            EXPECT_EQ(std::string(e.what()), "Cannot create a temporary file in \"" +
                                                 dir.File("gone") +
                                                 "\": No such file or directory");
        }
    }
}

} // namespace
