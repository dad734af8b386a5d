#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "app/cli/Cli.h"
#include "platform/Services.h"
#include "tests/convert/TestPictures.h"
#include "tests/support/TestSupport.h"

// The README's main job, pictova-cli --folder samples, made deterministic: a fixed clock, zone
// and random sequence. Its bytes are compared with a committed golden PDF, so a refactoring that
// changes any byte of the sample document shows here.

TEST(CliSamplesTest, TheSampleFolderGivesTheGoldenPdf)
{
    const ScopedTZ zone("UTC0");
    const ScopedClock clock(EncodeDateTime(2024, 3, 1, 12, 0, 0));
    TCountingRandom random;
    const ScopedRandom randomService(random);

    TTempDir dir;
    const std::string output = dir.File("samples.pdf");
    const std::string folder = SourceDir() + "/samples";
    std::vector<const char*> argv = {"pictova-cli", "--folder",     folder.c_str(),
                                     "-o",          output.c_str(), "--quiet"};
    std::ostringstream out;
    std::ostringstream err;
    TCliContext context{out, err};
    context.Codeset = "UTF-8";
    context.CodePage = &Utf8CodePage();
    ASSERT_EQ(RunCli(static_cast<int>(argv.size()), argv.data(), context), 0) << err.str();

    const std::string golden = TestDataPath("samples.pdf");
    const std::string bytes = ReadFileBytes(output);
    if (!FileExists(golden) || bytes != ReadFileBytes(golden))
    {
        // Kept for a look (or, when the change is meant, to replace the golden file).
        const std::string kept = BinaryDir() + "/samples-actual.pdf";
        WriteFileBytes(kept, bytes);
        ADD_FAILURE() << "the sample PDF differs from " << golden << "; this run's is " << kept;
    }
}
