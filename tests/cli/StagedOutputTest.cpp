// The staging file the command line's run writes to, and its commit.
#include "app/cli/StagedOutput.h"

#include <algorithm>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/Exceptions.h"
#include "tests/support/TestSupport.h"

namespace
{

std::vector<std::string> Names(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str()))
    {
        while (const dirent* entry = ::readdir(dir))
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
                names.emplace_back(entry->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

unsigned ModeOf(const std::string& path)
{
    struct stat info
    {
    };
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

TEST(StagedOutput, CommitPutsTheWrittenFileInPlaceWithTheOldPermissions)
{
    TTempDir dir;
    const std::string output = dir.File("out.pdf");
    WriteFileBytes(output, "old pdf");
    ::chmod(output.c_str(), 0640);
    TStagedOutput staged(output);
    EXPECT_EQ(staged.Path().rfind(dir.File(".out.pdf."), 0), 0U) << staged.Path();
    EXPECT_EQ(ModeOf(staged.Path()), 0640U);
    WriteFileBytes(staged.Path(), "new pdf");
    const volatile std::sig_atomic_t notCancelled = 0;
    EXPECT_TRUE(staged.Commit(&notCancelled));
    EXPECT_EQ(ReadFileBytes(output), "new pdf");
    EXPECT_EQ(ModeOf(output), 0640U);
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"out.pdf"});
}

// A cancel that came before the commit: nothing is written, the old file stays, and the
// staging file is gone.
TEST(StagedOutput, ACancelBeforeTheCommitWritesNothing)
{
    TTempDir dir;
    const std::string output = dir.File("out.pdf");
    WriteFileBytes(output, "old pdf");
    TStagedOutput staged(output);
    WriteFileBytes(staged.Path(), "new pdf");
    const volatile std::sig_atomic_t cancelled = 1;
    EXPECT_FALSE(staged.Commit(&cancelled));
    EXPECT_EQ(ReadFileBytes(output), "old pdf");
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"out.pdf"});
}

TEST(StagedOutput, AnUncommittedStagingFileIsRemovedAndNamedAsTheOutput)
{
    TTempDir dir;
    const std::string output = dir.File("out.pdf");
    {
        TStagedOutput staged(output);
        EXPECT_EQ(staged.AsOutput("Cannot write file \"" + staged.Path() + "\": No space"),
                  "Cannot write file \"" + output + "\": No space");
        EXPECT_EQ(Names(dir.Path()).size(), 1U);
    }
    EXPECT_TRUE(Names(dir.Path()).empty());
    try
    {
        TStagedOutput staged(dir.File("missing/out.pdf"));
        FAIL();
    }
    catch (const EFileError& e)
    {
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + dir.File("missing/out.pdf") +
                                             "\": No such file or directory");
    }
}

} // namespace
