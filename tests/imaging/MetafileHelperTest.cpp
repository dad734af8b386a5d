#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/imaging/MetafileRenderer.h"
#include "app/imaging/PictureReader.h"
#include "tests/imaging/ImagingTestSupport.h"
#include "tests/support/TestSupport.h"

namespace
{

// A stand-in for pictova-metafile: a shell script that misbehaves as told.
class FakeHelper
{
public:
    explicit FakeHelper(const std::string& body)
        : m_path(m_dir.File("fake-wmf")), m_env("PICTOVA_METAFILE_HELPER", m_path)
    {
        WriteFileBytes(m_path, "#!/bin/sh\n" + body + "\n");
        ::chmod(m_path.c_str(), 0755);
    }

private:
    TTempDir m_dir;
    std::string m_path;
    ScopedEnv m_env;
};

class ScopedMetafileLimits
{
public:
    explicit ScopedMetafileLimits(const TMetafileLimits& limits)
        : m_previous(SetMetafileLimits(limits))
    {
    }
    ~ScopedMetafileLimits() { SetMetafileLimits(m_previous); }
    ScopedMetafileLimits(const ScopedMetafileLimits&) = delete;
    ScopedMetafileLimits& operator=(const ScopedMetafileLimits&) = delete;

private:
    TMetafileLimits m_previous;
};

std::string ReasonFor(const std::string& bytes, TMetafileKind kind = mkWmf)
{
    try
    {
        RenderMetafileInHelper(kind, bytes);
        return "rendered";
    }
    catch (const EPictureError& e)
    {
        return e.what();
    }
}

std::string PlaceableWmf()
{
    return ReadFileBytes(TestDataPath("wmf_placeable.wmf"));
}

TEST(MetafileHelper, TheBuiltHelperIsFound)
{
    const std::string path = MetafileHelperPath();
    struct stat info
    {
    };
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
}

std::string SimpleEmf()
{
    return ReadFileBytes(TestDataPath("emf_simple.emf"));
}

TEST(MetafileHelper, ACrashIsAFailedPictureOfItsKind)
{
    FakeHelper helper("kill -SEGV $$");
    EXPECT_EQ(ReasonFor(PlaceableWmf()), "WMF renderer crashed (segmentation fault)");
    EXPECT_EQ(ReasonFor(SimpleEmf(), mkEmf), "EMF renderer crashed (segmentation fault)");
}

// A hang is killed with everything it started: the helper's whole process group.
TEST(MetafileHelper, AHangIsKilledWithItsGroupAtTheTimeLimit)
{
    TTempDir dir;
    const std::string pidFile = dir.File("sleeper");
    FakeHelper helper("sleep 30 & echo $! > " + pidFile + "; wait");
    TMetafileLimits limits;
    limits.WallTime = std::chrono::milliseconds(300);
    ScopedMetafileLimits scoped(limits);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReasonFor(SimpleEmf(), mkEmf), "EMF renderer timed out after 0.3 s");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    // Killed, it may linger as a zombie until whoever adopted it reaps it.
    const std::string stat = "/proc/" + std::to_string(std::stoi(ReadFileBytes(pidFile))) + "/stat";
    const auto running = [&] {
        std::ifstream in(stat);
        std::string pid, name, state;
        return in >> pid >> name >> state && state != "Z";
    };
    for (int i = 0; i < 100 && running(); ++i)
        ::usleep(10000);
    EXPECT_FALSE(running()) << "the helper's child outlived it";
}

// A loop that keeps the processor busy ends at the processor-time limit, well before the
// wall-clock one, and says so.
TEST(MetafileHelper, ALoopStopsAtTheProcessorTimeLimit)
{
    FakeHelper helper("while :; do :; done");
    TMetafileLimits limits;
    limits.CpuTime = std::chrono::seconds(1);
    limits.WallTime = std::chrono::milliseconds(60000);
    ScopedMetafileLimits scoped(limits);
    EXPECT_EQ(ReasonFor(SimpleEmf(), mkEmf), "EMF renderer used more than 1 s of processor time");
}

// The limits hold before the first byte of the file is read, and a crash leaves no core file.
TEST(MetafileHelper, TheLimitsHoldFromTheStart)
{
    FakeHelper helper(
        "cat >/dev/null; echo \"$(ulimit -t) $(ulimit -c) $(ulimit -v)\" >&2; exit 1");
    TMetafileLimits limits;
    limits.CpuTime = std::chrono::seconds(7);
    limits.MemoryBytes = 512ULL << 20;
    ScopedMetafileLimits scoped(limits);
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(ReasonFor(PlaceableWmf()), "7 0 unlimited"); // the sanitizer's own limit instead
#else
    EXPECT_EQ(ReasonFor(PlaceableWmf()), "7 0 524288");
#endif
}

// Its reason is the last line it prints, after whatever a library printed before.
TEST(MetafileHelper, ItsOwnReasonIsPassedOn)
{
    FakeHelper helper("cat >/dev/null; echo 'ERROR: player.c (495): bizarre record size' >&2; "
                      "echo 'bad WMF: unreadable records' >&2; exit 1");
    EXPECT_EQ(ReasonFor(PlaceableWmf()), "bad WMF: unreadable records");
}

// The helper quits without reading a large input: writing to it must fail quietly, not raise
// SIGPIPE in the caller.
TEST(MetafileHelper, AHelperThatStopsReadingDoesNotKillTheCaller)
{
    FakeHelper helper("exit 3");
    const std::string large = PlaceableWmf() + std::string(4 << 20, '\0');
    EXPECT_EQ(ReasonFor(large), "WMF renderer failed (exit status 3)");
}

TEST(MetafileHelper, BadOrOversizedOutputIsRefused)
{
    {
        FakeHelper helper("cat >/dev/null; printf 'xx'");
        EXPECT_EQ(ReasonFor(PlaceableWmf()), "WMF renderer gave incomplete output");
    }
    {
        // Claims 70000 x 200 x 4: refused before anything of that size is allocated.
        FakeHelper helper("cat >/dev/null; printf "
                          "'\\160\\021\\001\\000\\310\\000\\000\\000\\004\\000\\000\\000'");
        EXPECT_EQ(ReasonFor(PlaceableWmf()), "picture too large: 70000 x 200");
    }
    {
        // 10000 x 10000: within the pictures' limits, beyond the metafiles' 64 megapixels.
        FakeHelper helper("cat >/dev/null; printf "
                          "'\\020\\047\\000\\000\\020\\047\\000\\000\\004\\000\\000\\000'");
        EXPECT_EQ(ReasonFor(PlaceableWmf()), "picture too large: 10000 x 10000");
    }
    {
        // 1 x 1 x 3 followed by more bytes than announced.
        FakeHelper helper("cat >/dev/null; printf "
                          "'\\001\\000\\000\\000\\001\\000\\000\\000\\003\\000\\000\\000abcdef'");
        EXPECT_EQ(ReasonFor(PlaceableWmf()), "WMF renderer gave incomplete output");
    }
}

// Ctrl+C at a terminal goes to the terminal's process group: the helper must not be in ours,
// and it is told our process id so that it can end with us.
TEST(MetafileHelper, TheHelperRunsInAProcessGroupOfItsOwn)
{
    FakeHelper helper("cat >/dev/null; read -r pid name state ppid pgrp rest < /proc/$$/stat; "
                      "echo \"$pid $pgrp $2\" >&2; exit 1");
    const std::string reason = ReasonFor(PlaceableWmf());
    std::istringstream fields(reason);
    long pid = 0;
    long group = 0;
    long parent = 0;
    ASSERT_TRUE(fields >> pid >> group >> parent) << reason;
    EXPECT_EQ(group, pid);
    EXPECT_NE(group, static_cast<long>(::getpgrp()));
    EXPECT_EQ(parent, static_cast<long>(::getpid()));
}

TEST(MetafileHelper, AMissingHelperIsNamed)
{
    ScopedEnv env("PICTOVA_METAFILE_HELPER", "/nonexistent/pictova-metafile");
    EXPECT_EQ(ReasonFor(PlaceableWmf()), "WMF renderer not found: /nonexistent/pictova-metafile");
}

// The real helper refuses a picture beyond the size limit before drawing it, and one whose
// drawing needs more memory than it may have fails with that reason.
TEST(MetafileHelper, RealHelperKeepsToTheSizeAndMemoryLimits)
{
    {
        TMetafileLimits limits;
        limits.Pixels = 100 * 100;
        ScopedMetafileLimits scoped(limits);
        EXPECT_EQ(ReasonFor(SimpleEmf(), mkEmf), "picture too large: 384 x 288");
        EXPECT_EQ(ReasonFor(PlaceableWmf()).rfind("picture too large: ", 0), 0U);
    }
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's runtime needs more address space than the limit allows";
#else
    // 8000 x 6000 pixels need 192 MB for the drawing surface alone.
    std::string emf = SimpleEmf();
    for (const auto& [offset, value] : {std::pair{24, 0}, {28, 0}, {32, 211667}, {36, 158750}})
        for (int i = 0; i < 4; ++i)
            emf[static_cast<std::size_t>(offset + i)] =
                static_cast<char>((value >> (8 * i)) & 0xFF);
    TMetafileLimits limits;
    limits.MemoryBytes = 160ULL << 20;
    ScopedMetafileLimits scoped(limits);
    EXPECT_EQ(ReasonFor(emf, mkEmf), "EMF renderer ran out of memory (limit 160 MB)");
#endif
}

// The real helper on damaged metafiles: a reason, whatever libwmf makes of them.
TEST(MetafileHelper, RealHelperOnDamagedFilesGivesAReason)
{
    const std::string good = PlaceableWmf();
    std::string noRecords = good.substr(0, 40);
    std::string scrambled = good;
    for (std::size_t i = 40; i < scrambled.size(); i += 3)
        scrambled[i] = static_cast<char>(0xFF);
    for (const std::string& bytes : {noRecords, scrambled})
    {
        const std::string reason = ReasonFor(bytes);
        EXPECT_FALSE(reason.empty());
        EXPECT_EQ(reason.find("crashed"), std::string::npos) << reason;
    }
}

std::string Record(std::uint16_t function, std::initializer_list<int> words)
{
    std::string out;
    PutLe(out, static_cast<std::uint32_t>(3 + words.size()), 4);
    PutLe(out, function, 2);
    for (int word : words)
        PutLe(out, static_cast<std::uint32_t>(word), 2);
    return out;
}

// A placeable WMF of the given records (the end record added) whose box is width x height
// units, at the given units per inch.
std::string PlaceableWmfOf(const std::string& records, int objects, int width = 400,
                           int height = 200, int unitsPerInch = 96)
{
    std::string out;
    PutLe(out, 0x9AC6CDD7, 4);
    for (int word : {0, 0, 0, width, height, unitsPerInch, 0, 0})
        PutLe(out, static_cast<std::uint32_t>(word), 2);
    std::uint16_t checksum = 0;
    for (std::size_t i = 0; i < out.size(); i += 2)
        checksum ^= ReadLe16(out, i);
    PutLe(out, checksum, 2);
    PutLe(out, 1, 2); // in memory
    PutLe(out, 9, 2);
    PutLe(out, 0x0300, 2);
    PutLe(out, static_cast<std::uint32_t>((18 + records.size() + 6) / 2), 4);
    PutLe(out, static_cast<std::uint32_t>(objects), 2);
    PutLe(out, 64, 4); // the largest record, in words
    PutLe(out, 0, 2);
    return out + records + Record(0x0000, {});
}

// A 400 x 200 placeable WMF (96 units per inch) of the given records, drawn with a solid red
// brush and a one-unit black pen.
std::string ShapesWmf(const std::string& shapes, int objects = 2)
{
    return PlaceableWmfOf(Record(0x020B, {0, 0}) +                // window origin
                              Record(0x020C, {200, 400}) +        // window extent
                              Record(0x02FC, {0, 0x00FF, 0, 0}) + // solid red brush
                              Record(0x012D, {0}) +               // select it
                              Record(0x02FA, {0, 1, 0, 0, 0}) +   // black pen
                              Record(0x012D, {1}) + shapes,
                          objects);
}

// Clip art is made of filled ellipses, rounded rectangles, chords and pies: each is filled with
// its brush and cut to its outline (word order as stored: bottom/right before top/left).
TEST(MetafileHelper, EllipsesRoundedRectanglesChordsAndPiesAreFilled)
{
    const TRaster raster = DecodePicture(ShapesWmf(
        Record(0x0418, {90, 90, 10, 10}) +                        // ellipse (10,10)-(90,90)
        Record(0x061C, {40, 40, 90, 190, 10, 110}) +              // rounded (110,10)-(190,90)
        Record(0x0830, {110, 90, 110, 10, 190, 90, 110, 10}) +    // chord (10,110)-(90,190)
        Record(0x081A, {10, 390, 10, 310, 190, 390, 110, 310}))); // pie (310,110)-(390,190)
    ASSERT_EQ(raster.Width, 400);
    ASSERT_EQ(raster.Height, 200);
    EXPECT_TRUE(PixelNear(raster, 50, 50, kRed));   // inside the ellipse
    EXPECT_TRUE(PixelNear(raster, 14, 14, kWhite)); // its box's corner, outside it
    EXPECT_TRUE(PixelNear(raster, 150, 50, kRed));
    EXPECT_TRUE(PixelNear(raster, 150, 13, kRed));    // the straight top edge
    EXPECT_TRUE(PixelNear(raster, 113, 13, kWhite));  // a rounded-off corner
    EXPECT_TRUE(PixelNear(raster, 113, 50, kRed));    // the straight left edge
    EXPECT_TRUE(PixelNear(raster, 50, 160, kRed));    // the chord's segment...
    EXPECT_TRUE(PixelNear(raster, 50, 115, kWhite));  // ...cut off above the chord line
    EXPECT_TRUE(PixelNear(raster, 350, 170, kRed));   // the pie...
    EXPECT_TRUE(PixelNear(raster, 350, 120, kWhite)); // ...without its upper wedge
    EXPECT_TRUE(PixelNear(raster, 380, 40, kWhite));  // and no sides beyond the ellipse
}

// The diagonal hatches lean as the platform draws them, on the page's 8-pixel grid: forward
// "\\" (x = y), backward "/" (x = 7 - y); the device drew them the other way round.
TEST(MetafileHelper, DiagonalHatchesLeanThePlatformsWay)
{
    const TRaster raster = DecodePicture(ShapesWmf(
        Record(0x02FC, {2, 0x00FF, 0, 2}) + Record(0x012D, {2}) +     // red forward hatch
            Record(0x041B, {40, 40, 0, 0}) + Record(0x01F0, {2}) +    // (0,0)-(40,40)
            Record(0x02FC, {2, 0x00FF, 0, 3}) + Record(0x012D, {2}) + // red backward hatch
            Record(0x041B, {40, 88, 0, 48}),
        3));
    EXPECT_TRUE(PixelNear(raster, 13, 5, kRed));
    EXPECT_TRUE(PixelNear(raster, 10, 5, kWhite));
    EXPECT_TRUE(PixelNear(raster, 58, 5, kRed));
    EXPECT_TRUE(PixelNear(raster, 61, 5, kWhite));
}

// The placeable header's box is the picture's frame: a small drawing inside it keeps its place
// and size instead of being stretched over the page.
TEST(MetafileHelper, ThePlaceableBoxIsTheFrameNotTheDrawnBounds)
{
    const TRaster raster =
        DecodePicture(ShapesWmf(Record(0x041B, {140, 240, 60, 160}))); // (160,60)-(240,140)
    ASSERT_EQ(raster.Width, 400);
    ASSERT_EQ(raster.Height, 200);
    EXPECT_TRUE(PixelNear(raster, 200, 100, kRed));
    EXPECT_TRUE(PixelNear(raster, 165, 65, kRed));
    EXPECT_TRUE(PixelNear(raster, 150, 50, kWhite));
    EXPECT_TRUE(PixelNear(raster, 250, 150, kWhite));
    EXPECT_TRUE(PixelNear(raster, 20, 20, kWhite));
}

// A producer deletes each brush right after selecting the next, inside SaveDC/RestoreDC: the
// restored DC holds a deleted brush whose slot a new pen then takes. The brush must stay the
// brush (it crashed the renderer, or took seconds, reading the pen as a pattern brush).
TEST(MetafileHelper, ABrushDeletedWhileASavedDcHoldsItStaysABrush)
{
    const std::string records =
        Record(0x001E, {}) +                        // SaveDC
        Record(0x02FC, {0, 0xFF00, 0, 0}) +         // solid green brush, slot 2
        Record(0x012D, {2}) + Record(0x01F0, {0}) + // select it, delete the red one
        Record(0x041B, {90, 90, 10, 10}) +          // green rectangle (10,10)-(90,90)
        Record(0x0127, {0xFFFF}) +                  // RestoreDC(-1): the red brush again
        Record(0x02FA, {5, 0, 0, 0, 0}) +           // a null pen takes slot 0
        Record(0x041B, {90, 190, 10, 110});         // (110,10)-(190,90) with the red brush
    const TRaster raster = DecodePicture(ShapesWmf(records, 3));
    ASSERT_EQ(raster.Width, 400);
    EXPECT_TRUE(PixelNear(raster, 50, 50, kGreen));
    EXPECT_TRUE(PixelNear(raster, 150, 50, kRed));
    EXPECT_TRUE(PixelNear(raster, 250, 50, kWhite));
}

// Dashed pens draw the platform's dashes: a thin pen's fixed lengths, a wide one's in widths, the
// pattern running on round a shape's corners; the null pen draws nothing. A shape outlined in
// dashes is filled under them; a thin pen's gaps show the background colour unless the
// background mode is transparent.
TEST(MetafileHelper, DashedPensDrawThePlatformsDashes)
{
    std::string records;
    int slot = 2; // after ShapesWmf's brush and pen
    const auto pen = [&](int style, int width) {
        records += Record(0x02FA, {style, width, 0, 0, 0}) + Record(0x012D, {slot++});
    };
    const auto line = [&](int y) { records += Record(0x0214, {y, 10}) + Record(0x0213, {y, 390}); };
    for (int style = 1; style <= 5; ++style)
    {
        pen(style, 1);
        line(style * 20);
    }
    pen(1, 4);
    line(120);
    pen(2, 4);
    line(140);
    pen(3, 1);
    records += Record(0x041B, {190, 290, 160, 210}) + // rectangle (210,160)-(290,190)
               Record(0x0102, {1}) +                  // transparent background
               Record(0x041B, {190, 390, 160, 310});  // (310,160)-(390,190)
    const TRaster raster = DecodePicture(ShapesWmf(records, slot));
    ASSERT_EQ(raster.Width, 400);
    EXPECT_EQ(Inked(raster, 20, 10, 58), DashesOf({18, 6}, 48));
    EXPECT_EQ(Inked(raster, 40, 10, 58), DashesOf({3, 3}, 48));
    EXPECT_EQ(Inked(raster, 60, 10, 58), DashesOf({9, 6, 3, 6}, 48));
    EXPECT_EQ(Inked(raster, 80, 10, 58), DashesOf({9, 3, 3, 3, 3, 3}, 48));
    EXPECT_EQ(Inked(raster, 100, 0, 400), std::string(400, '.'));
    EXPECT_EQ(Inked(raster, 120, 10, 58), DashesOf({12, 4}, 48));
    EXPECT_EQ(Inked(raster, 140, 10, 58), DashesOf({4, 4}, 48));
    // The top edge is 80 long, three rounds of 24 and 8 into a dash of 9: its last pixel is the
    // corner's, and the first below it a gap.
    EXPECT_EQ(Inked(raster, 160, 210, 290), DashesOf({9, 6, 3, 6}, 80));
    EXPECT_EQ(Inked(raster, 160, 290, 291) + Inked(raster, 161, 290, 291), "#.");
    EXPECT_TRUE(PixelNear(raster, 220, 160, kWhite)); // a gap: the background colour
    EXPECT_TRUE(PixelNear(raster, 320, 160, kRed));   // a transparent gap: the fill
    EXPECT_TRUE(PixelNear(raster, 250, 175, kRed));
}

// A pen of width 0, and the default pen, are cosmetic: one pixel wide at any scale (the player
// drew them a unit, or a point, wide), dashed with a thin pen's lengths. A unit here is 4 pixels.
TEST(MetafileHelper, PensOfWidthZeroAndTheDefaultPenAreOnePixelWide)
{
    const auto line = [](int y) { return Record(0x0214, {y, 5}) + Record(0x0213, {y, 95}); };
    const std::string records = Record(0x020B, {0, 0}) + Record(0x020C, {50, 100}) +
                                Record(0x02FC, {0, 0x00FF, 0, 0}) + Record(0x012D, {0}) +
                                line(5) + // the default pen, a brush selected before it
                                Record(0x02FA, {0, 0, 0, 0, 0}) + Record(0x012D, {1}) + line(10) +
                                Record(0x02FA, {2, 0, 0, 0, 0}) + Record(0x012D, {2}) + line(15) +
                                Record(0x02FA, {0, 1, 0, 0, 0}) + Record(0x012D, {3}) + line(20);
    const TRaster raster = DecodePicture(PlaceableWmfOf(records, 4, 100, 50, 24));
    ASSERT_EQ(raster.Width, 400);
    EXPECT_EQ(InkedRows(raster, 200, 20), 1);
    EXPECT_EQ(InkedRows(raster, 200, 40), 1);
    EXPECT_EQ(Inked(raster, 60, 20, 68), DashesOf({3, 3}, 48));
    EXPECT_EQ(InkedRows(raster, 200, 80), 4); // a pen of width 1: a unit wide
}

// The pixels of row y from x (included) to to (excluded) that are inked.
int InkedAcross(const TRaster& raster, int y, int from, int to)
{
    const std::string marks = Inked(raster, y, from, to);
    return static_cast<int>(std::count(marks.begin(), marks.end(), '#'));
}

// Pens wider than a few pixels draw as the platform draws a geometric pen: a round nib as wide
// as the pen, swept along the line, with round ends and corners (the device stamped a square).
TEST(MetafileHelper, WidePensHaveTheirWidthAndRoundEndsAndCorners)
{
    const std::string records =
        Record(0x02FA, {0, 20, 0, 0, 0}) + Record(0x012D, {2}) +      // black pen 20 wide
        Record(0x0214, {30, 30}) + Record(0x0213, {30, 150}) +        // line (30,30)-(150,30)
        Record(0x0325, {3, 40, 60, 100, 180, 160, 60}) +              // (40,60) (100,180) (160,60)
        Record(0x02FA, {0, 16, 0, 0xFF00, 0}) + Record(0x012D, {3}) + // green pen 16 wide
        Record(0x02FC, {1, 0, 0, 0}) + Record(0x012D, {4}) +          // null brush
        Record(0x0418, {180, 380, 40, 220});                          // ellipse (220,40)-(380,180)
    const TRaster raster = DecodePicture(ShapesWmf(records, 5));
    ASSERT_EQ(raster.Width, 400);
    // The line: 20 rows thick, its end a half disc reaching 10 pixels past the end point.
    EXPECT_EQ(InkedAcross(raster, 30, 0, 200) + InkedAcross(raster, 30, 200, 400), 140);
    int rows = 0;
    for (int y = 0; y < 60; ++y)
        rows += Inked(raster, y, 90, 91) == "#" ? 1 : 0;
    EXPECT_EQ(rows, 20);
    EXPECT_TRUE(PixelNear(raster, 157, 30, kBlack));
    EXPECT_TRUE(PixelNear(raster, 157, 22, kWhite)); // the corner a square end would have
    // The polyline's first side, at 63 degrees: 20 / sin(63.4) = 22.4 pixels across a row.
    EXPECT_NEAR(InkedAcross(raster, 120, 40, 100), 22, 1);
    // Its sharp corner is round, 10 pixels from the corner point at most.
    EXPECT_TRUE(PixelNear(raster, 100, 189, kBlack));
    EXPECT_TRUE(PixelNear(raster, 100, 191, kWhite));
    EXPECT_TRUE(PixelNear(raster, 108, 188, kWhite));
    // The ellipse's outline: 16 pixels where it runs straight down or across, and along its
    // normal where it slants (24 pixels across row 160, where a square nib made 34).
    EXPECT_NEAR(InkedAcross(raster, 110, 340, 400), 16, 1);
    rows = 0;
    for (int y = 0; y < 80; ++y)
        rows += Inked(raster, y, 300, 301) == "#" ? 1 : 0;
    EXPECT_NEAR(rows, 16, 1);
    EXPECT_NEAR(InkedAcross(raster, 160, 300, 400), 24, 2);
    EXPECT_TRUE(PixelNear(raster, 300, 110, kWhite)); // the null brush leaves it empty
}

// The end-cap and join bits of a wide pen's style: square ends reach half the width past the
// end point, flat ones stop at it; mitred corners come to a point, bevelled ones are cut flat.
TEST(MetafileHelper, WidePensKeepTheEndsAndCornersTheirStyleAsks)
{
    const auto pen = [](int style, int slot) {
        return Record(0x02FA, {style, 20, 0, 0, 0}) + Record(0x012D, {slot});
    };
    const std::string records =
        pen(0x0100, 2) + Record(0x0214, {30, 30}) + Record(0x0213, {30, 150}) + // square ends
        pen(0x0200, 3) + Record(0x0214, {70, 30}) + Record(0x0213, {70, 150}) + // flat ends
        pen(0x2000, 4) + Record(0x0325, {3, 170, 20, 220, 120, 270, 20}) +      // mitred
        pen(0x1000, 5) + Record(0x0325, {3, 290, 20, 340, 120, 390, 20});       // bevelled
    const TRaster raster = DecodePicture(ShapesWmf(records, 6));
    ASSERT_EQ(raster.Width, 400);
    EXPECT_EQ(InkedAcross(raster, 30, 0, 162), 140);
    EXPECT_TRUE(PixelNear(raster, 159, 21, kBlack));
    EXPECT_EQ(InkedAcross(raster, 70, 0, 162), 120);
    // The mitre's point lies 10 / sin(26.6) = 22.4 pixels below the corner point; a round
    // corner would end 10 below it, a bevel 4.5.
    EXPECT_TRUE(PixelNear(raster, 220, 141, kBlack));
    EXPECT_TRUE(PixelNear(raster, 220, 144, kWhite));
    EXPECT_TRUE(PixelNear(raster, 340, 124, kBlack));
    EXPECT_TRUE(PixelNear(raster, 340, 126, kWhite));
}

// Pens as wide or as tall as the page, found by fuzzing: stamped at every pixel of their lines
// they ran past the helper's 10 s limit; drawn row by row they take milliseconds.
TEST(MetafileHelper, PensAsLargeAsThePageKeepWithinTheTimeLimit)
{
    for (const char* name :
         {"slow-wide-pen", "timeout-tall-pen-rectangle", "timeout-tall-pen-rectangle-2",
          "timeout-wide-dashed-arc", "timeout-wide-default-pen", "timeout-wide-default-pen-2",
          "timeout-wide-pen-rectangle", "timeout-wide-pen-round-rectangle"})
    {
        const std::string reason =
            ReasonFor(ReadFileBytes(TestDataPath("regress/wmf/" + std::string(name) + ".wmf")));
        EXPECT_TRUE(reason == "rendered" || reason == "bad WMF: unreadable records")
            << name << ": " << reason;
    }
}

// RestoreDC brings the default pen back after the file's own pens: one pixel wide again. The
// file's pen keeps its width in shapes drawn as polygons (a rounded rectangle) as well.
TEST(MetafileHelper, TheDefaultPenIsKnownAfterOtherPens)
{
    const auto line = [](int y) { return Record(0x0214, {y, 5}) + Record(0x0213, {y, 95}); };
    const std::string records = Record(0x020B, {0, 0}) + Record(0x020C, {50, 100}) +
                                Record(0x001E, {}) + // SaveDC
                                Record(0x02FA, {0, 1, 0, 0, 0}) + Record(0x012D, {0}) + line(5) +
                                Record(0x061C, {4, 4, 45, 90, 15, 10}) + // (10,15)-(90,45)
                                Record(0x0127, {0xFFFF}) + line(10);     // RestoreDC(-1)
    const TRaster raster = DecodePicture(PlaceableWmfOf(records, 1, 100, 50, 24));
    ASSERT_EQ(raster.Width, 400);
    EXPECT_EQ(InkedRows(raster, 200, 20), 4);
    EXPECT_EQ(InkedRows(raster, 200, 40), 1);
    EXPECT_EQ(InkedRows(raster, 200, 60), 4);
}

// An EMF of width x height pixels (its frame at 96 dpi) filled blue.
std::string BlueEmf(int width, int height)
{
    std::string records;
    for (const std::vector<std::uint32_t>& record :
         {std::vector<std::uint32_t>{39, 24, 1, 0, 0xFF0000, 0},
          {37, 12, 1},
          {43, 24, 0, 0, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)},
          {14, 20, 0, 16, 20}})
        for (std::uint32_t field : record)
            PutLe(records, field, 4);
    const auto w = static_cast<std::uint32_t>(width);
    const auto h = static_cast<std::uint32_t>(height);
    std::string emf;
    for (std::uint32_t field : {1U,
                                88U,
                                0U,
                                0U,
                                w,
                                h,
                                0U,
                                0U,
                                (w * 2540 + 48) / 96,
                                (h * 2540 + 48) / 96,
                                0x464D4520U,
                                0x10000U,
                                static_cast<std::uint32_t>(88 + records.size()),
                                5U,
                                2U,
                                0U,
                                0U,
                                0U,
                                w,
                                h,
                                w / 4,
                                h / 4})
        PutLe(emf, field, 4);
    return emf + records;
}

// The EMF in escape records of two chunks, as office suites keep it in the WMFs they convert,
// its checksum off by checksumError.
std::string KeptEmf(const std::string& emf, int checksumError = 0)
{
    std::uint16_t words = 0;
    for (std::size_t i = 0; i < emf.size(); i += 2)
        words ^= ReadLe16(emf, i);
    const auto checksum = static_cast<std::uint16_t>(-words + checksumError);
    const std::size_t half = emf.size() / 4 * 2;
    std::string out;
    for (const std::size_t start : {std::size_t{0}, half})
    {
        const std::size_t size = start == 0 ? half : emf.size() - half;
        PutLe(out, static_cast<std::uint32_t>((44 + size) / 2), 4);
        for (std::uint32_t field : {0x0626U, 0x000FU, static_cast<std::uint32_t>(34 + size)})
            PutLe(out, field, 2);
        for (std::uint32_t field : {0x43464D57U, 1U, 0x00010000U})
            PutLe(out, field, 4);
        PutLe(out, checksum, 2);
        for (std::size_t field :
             {std::size_t{0}, std::size_t{2}, size, emf.size() - start - size, emf.size()})
            PutLe(out, static_cast<std::uint32_t>(field), 4);
        out += emf.substr(start, size);
    }
    return out;
}

// A WMF that keeps the EMF it was converted from is drawn from that EMF, which holds what the
// conversion lost; not when its checksum fails or its size is not the WMF's.
TEST(MetafileHelper, AWmfKeepingItsOriginalEmfIsDrawnFromIt)
{
    const std::string redSquare = Record(0x041B, {140, 240, 60, 160});
    EXPECT_TRUE(PixelNear(DecodePicture(ShapesWmf(KeptEmf(BlueEmf(400, 200)) + redSquare)), 200,
                          100, kBlue));
    EXPECT_TRUE(PixelNear(DecodePicture(ShapesWmf(KeptEmf(BlueEmf(400, 200), 1) + redSquare)), 200,
                          100, kRed));
    EXPECT_TRUE(PixelNear(DecodePicture(ShapesWmf(KeptEmf(BlueEmf(300, 200)) + redSquare)), 200,
                          100, kRed));
}

// StretchDIB of a 4 x 2, 8-bit bitmap (green on top, blue below) with the given raster
// operation onto (x, y)-(x + 40, y + 80).
std::string StretchDib(std::uint32_t rop, int x, int y, int bottomBgr0 = 0x00FF, int bottomBgr1 = 0,
                       int topBgr0 = 0xFF00, int topBgr1 = 0)
{
    return Record(0x0F43, {static_cast<int>(rop & 0xFFFF),
                           static_cast<int>(rop >> 16),
                           0,
                           2,
                           4,
                           0,
                           0,
                           80,
                           40,
                           y,
                           x,
                           40,
                           0,
                           4,
                           0,
                           2,
                           0,
                           1,
                           8,
                           0,
                           0,
                           8,
                           0,
                           0,
                           0,
                           0,
                           0,
                           2,
                           0,
                           0,
                           0,
                           bottomBgr0,
                           bottomBgr1,
                           topBgr0,
                           topBgr1, // palette
                           0,
                           0,
                           0x0101,
                           0x0101}); // rows bottom-up: blue, green
}

// The same in 24 bits, drawn width x height.
std::string StretchDib24(std::uint32_t rop, int x, int y, int width = 40, int height = 80)
{
    return Record(0x0F43, {static_cast<int>(rop & 0xFFFF),
                           static_cast<int>(rop >> 16),
                           0,
                           2,
                           4,
                           0,
                           0,
                           height,
                           width,
                           y,
                           x,
                           40,
                           0,
                           4,
                           0,
                           2,
                           0,
                           1,
                           24,
                           0,
                           0,
                           24,
                           0,
                           0,
                           0,
                           0,
                           0,
                           0,
                           0,
                           0,
                           0,
                           0x00FF,
                           0xFF00,
                           0x0000,
                           0x00FF,
                           0xFF00,
                           0x0000, // blue, blue, ...
                           0xFF00,
                           0x0000,
                           0x00FF,
                           0xFF00,
                           0x0000,
                           0x00FF}); // green, green, ...
}

// Transparent bitmaps come as a pair ORed and then ANDed onto the page; each bitmap is combined
// with what is drawn, and one reaching past the page's edge is cut there.
TEST(MetafileHelper, BitmapsAreCombinedByTheirRasterOperation)
{
    const TRaster raster =
        DecodePicture(ShapesWmf(Record(0x041B, {200, 400, 0, 0}) + // the whole page red
                                StretchDib(0x00CC0020, 10, 10) +   // copied
                                StretchDib(0x008800C6, 110, 10) +  // ANDed: green & red, blue & red
                                StretchDib(0x00EE0086, 210, 10) +  // ORed
                                StretchDib(0x00CC0020, 380, 150) + // half off the page
                                StretchDib24(0x00CC0020, 10, 110) +   // 24 bits, copied
                                StretchDib24(0x008800C6, 110, 110))); // and ANDed
    ASSERT_EQ(raster.Width, 400);
    ASSERT_EQ(raster.Height, 200);
    EXPECT_TRUE(PixelNear(raster, 30, 30, kGreen));
    EXPECT_TRUE(PixelNear(raster, 30, 70, kBlue));
    EXPECT_TRUE(PixelNear(raster, 130, 30, kBlack));
    EXPECT_TRUE(PixelNear(raster, 230, 30, TRgb{255, 255, 0}));
    EXPECT_TRUE(PixelNear(raster, 230, 70, TRgb{255, 0, 255}));
    EXPECT_TRUE(PixelNear(raster, 390, 170, kGreen));
    EXPECT_TRUE(PixelNear(raster, 300, 150, kRed));
    EXPECT_TRUE(PixelNear(raster, 30, 130, kGreen));
    EXPECT_TRUE(PixelNear(raster, 30, 170, kBlue));
    EXPECT_TRUE(PixelNear(raster, 30, 195, kRed));
    EXPECT_TRUE(PixelNear(raster, 130, 130, kBlack));
}

// A transparent bitmap as its producer writes it: its opacity ORed onto the page (white where
// covered, grey where half covered, black where clear), then its colours ANDed (white where
// clear). The pair blends the colours with the page by that opacity.
TEST(MetafileHelper, AnOrAndPairIsATransparentBitmap)
{
    const TRaster raster = DecodePicture(ShapesWmf(
        Record(0x041B, {200, 100, 0, 0}) +                           // the left quarter red
        StretchDib(0x00EE0086, 10, 10, 0, 0, 0xFFFF, 0x00FF) +       // covered above, clear below
        StretchDib(0x008800C6, 10, 10, 0xFFFF, 0x00FF, 0xFF00, 0) +  // green above
        StretchDib(0x00EE0086, 110, 10, 0, 0, 0x8080, 0x0080) +      // half covered above
        StretchDib(0x008800C6, 110, 10, 0xFFFF, 0x00FF, 0xFF00, 0) + // where nothing is drawn
        StretchDib(0x00EE0086, 10, 110, 0, 0, 0xFFFF, 0x00FF)));     // alone: ORed at the end
    EXPECT_TRUE(PixelNear(raster, 30, 30, kGreen));
    EXPECT_TRUE(PixelNear(raster, 30, 70, kRed));
    EXPECT_TRUE(PixelNear(raster, 130, 30, TRgb{127, 255, 127}, 3));
    EXPECT_TRUE(PixelNear(raster, 130, 70, kWhite));
    EXPECT_TRUE(PixelNear(raster, 30, 130, kWhite));
    EXPECT_TRUE(PixelNear(raster, 30, 170, kRed));
}

} // namespace

namespace
{

// A bitmap keeps to the clip region as shapes do: only its part inside is drawn, and after
// RestoreDC the next one is drawn whole.
TEST(MetafileHelper, BitmapsKeepToTheClipRegion)
{
    const TRaster raster =
        DecodePicture(ShapesWmf(Record(0x041B, {200, 400, 0, 0}) + // all red
                                Record(0x001E, {}) +               // SaveDC
                                Record(0x0416, {50, 30, 10, 10}) + // clip (10,10)-(30,50)
                                StretchDib(0x00CC0020, 10, 10) +   // (10,10)-(50,90)
                                Record(0x0127, {0xFFFF}) +         // RestoreDC
                                StretchDib(0x00CC0020, 110, 10)));
    EXPECT_TRUE(PixelNear(raster, 20, 30, kGreen));
    EXPECT_TRUE(PixelNear(raster, 40, 30, kRed));
    EXPECT_TRUE(PixelNear(raster, 20, 70, kRed));
    EXPECT_TRUE(PixelNear(raster, 140, 30, kGreen));
    EXPECT_TRUE(PixelNear(raster, 140, 70, kBlue));
}

// Office suites write gradients as bitmaps reaching far past the frame, cut by a clip region:
// the placeable box stays the frame, and the drawing is not squeezed into the page.
TEST(MetafileHelper, ABitmapOverflowingTheFrameLeavesTheFrameAsItIs)
{
    const TRaster raster = DecodePicture(
        ShapesWmf(Record(0x0416, {200, 400, 0, 0}) +                // clip to the frame
                  StretchDib24(0x00CC0020, -300, -150, 1000, 500) + // (-300,-150)-(700,350)
                  Record(0x041B, {140, 240, 60, 160})));            // red (160,60)-(240,140)
    ASSERT_EQ(raster.Width, 400);
    ASSERT_EQ(raster.Height, 200);
    EXPECT_TRUE(PixelNear(raster, 165, 65, kRed));
    EXPECT_TRUE(PixelNear(raster, 235, 135, kRed));
    EXPECT_TRUE(PixelNear(raster, 150, 50, kGreen)); // the bitmap's upper half
    EXPECT_TRUE(PixelNear(raster, 20, 180, kBlue));  // and its lower half
}

} // namespace
