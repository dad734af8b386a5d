// Damaged and hostile pictures: each fails with a reason or decodes, never more. The files under
// tests/data/regress/ are inputs the fuzzing targets once stumbled on, kept as they were found.
#include <algorithm>
#include <string>
#include <vector>

#include <dirent.h>

#include <gtest/gtest.h>

#include "app/imaging/MetafileRenderer.h"
#include "app/imaging/PictureReader.h"
#include "tests/imaging/ImagingTestSupport.h"
#include "tests/support/TestSupport.h"

namespace
{

// An icon of PNG entries, each given as its bytes.
std::string Icon(const std::vector<std::string>& entries)
{
    std::string out;
    PutLe(out, 0, 2);
    PutLe(out, 1, 2);
    PutLe(out, static_cast<std::uint32_t>(entries.size()), 2);
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(entries.size());
    for (const std::string& entry : entries)
    {
        PutLe(out, 0, 4); // size 256 x 256, no palette
        PutLe(out, 1, 2);
        PutLe(out, 32, 2);
        PutLe(out, static_cast<std::uint32_t>(entry.size()), 4);
        PutLe(out, offset, 4);
        offset += static_cast<std::uint32_t>(entry.size());
    }
    for (const std::string& entry : entries)
        out += entry;
    return out;
}

// The first bytes of a PNG whose header claims 4294967295 x 4294967295 pixels.
std::string ImpossiblePngHeader()
{
    std::string png = ReadFileBytes(TestDataPath("png_rgb8.png")).substr(0, 33);
    png.replace(16, 8, std::string(8, '\xFF'));
    return png;
}

// The sides of an icon's entry are read as 32 bits: comparing such entries once multiplied them
// beyond 64 bits. An entry beyond the limits now loses to any usable one.
TEST(HostileIco, AnEntryOfImpossibleSizeLosesToAUsableOne)
{
    const std::string usable = ReadFileBytes(TestDataPath("png_rgb8.png"));
    for (const std::string& icon :
         {Icon({ImpossiblePngHeader(), usable}), Icon({usable, ImpossiblePngHeader()})})
    {
        const TRaster raster = DecodePicture(icon);
        EXPECT_EQ(raster.Width, 64);
        EXPECT_EQ(raster.Height, 48);
        EXPECT_TRUE(PixelNear(raster, 16, 12, kRed));
    }
    EXPECT_EQ(ReasonFor(Icon({ImpossiblePngHeader(), ImpossiblePngHeader()})),
              "picture too large: 4294967295 x 4294967295");
}

std::vector<std::string> RegressionInputs()
{
    std::vector<std::string> files;
    const std::string root = TestDataPath("regress");
    DIR* targets = ::opendir(root.c_str());
    if (targets == nullptr)
        return files;
    while (const dirent* target = ::readdir(targets))
    {
        if (target->d_name[0] == '.')
            continue;
        const std::string folder = root + "/" + target->d_name;
        DIR* inputs = ::opendir(folder.c_str());
        if (inputs == nullptr)
            continue;
        while (const dirent* input = ::readdir(inputs))
            if (input->d_name[0] != '.')
                files.push_back(folder + "/" + input->d_name);
        ::closedir(inputs);
    }
    ::closedir(targets);
    std::sort(files.begin(), files.end());
    return files;
}

// Every input a fuzzing target found is decoded again, whole: it may decode or fail with a
// reason, but not crash or run out of memory (the sanitizer build stops on anything worse).
TEST(FuzzRegressions, EachFoundInputDecodesOrFailsWithAReason)
{
    for (const std::string& path : RegressionInputs())
    {
        SCOPED_TRACE(path);
        const std::string reason = ReasonFor(ReadFileBytes(path));
        EXPECT_FALSE(reason.empty());
        // A metafile renderer that crashed is a failed picture, but still a finding.
        EXPECT_EQ(reason.find("crashed"), std::string::npos) << reason;
    }
}

} // namespace
