// What the desktop window computes without a window: preview geometry, the list's command
// states and drag rule, the stored settings values, the size estimate and its background worker.

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "app/convert/FileList.h"
#include "app/convert/LatestJob.h"
#include "app/convert/Preview.h"
#include "app/convert/SettingsFile.h"
#include "app/convert/SizeEstimate.h"
#include "app/imaging/Raster.h"
#include "platform/DateTime.h"
#include "tests/convert/TestPictures.h"
#include "tests/support/TestSupport.h"

namespace
{

bool Same(const TPreviewGeometry& a, const TPreviewGeometry& b)
{
    return a.X == b.X && a.Y == b.Y && a.Width == b.Width && a.Height == b.Height;
}

} // namespace

TEST(PreviewGeometryTest, SinglePrecisionRatiosAndHalvesToEven)
{
    // 3000 / s lies just below 214.5; (313 - 214) / 2 = 49.5 goes to 50.
    EXPECT_TRUE(Same(PreviewGeometry(3000, 2000), {50, 0, 214, 143}));
    EXPECT_TRUE(Same(PreviewGeometry(1, 1), {85, 0, 143, 143}));
    EXPECT_TRUE(Same(PreviewGeometry(313, 143), {0, 0, 313, 143}));
    EXPECT_TRUE(Same(PreviewGeometry(626, 286), {0, 0, 313, 143}));
    EXPECT_TRUE(Same(PreviewGeometry(3130, 100), {0, 66, 313, 10})); // 66.5 to the even 66
    // A sliver keeps one pixel instead of vanishing.
    EXPECT_TRUE(Same(PreviewGeometry(65000, 1), {0, 71, 313, 1}));
}

TEST(PreviewGeometryTest, PictureWithoutPixelsFailsInsteadOfDividingZeroByZero)
{
    EXPECT_THROW(PreviewGeometry(0, 0), EPictureError);
    EXPECT_THROW(PreviewGeometry(0, 5), EPictureError);
}

TEST(PreviewTest, RendersOnWhiteAndTellsMissingFromBroken)
{
    TTempDir dir;
    WriteTestBmp(dir.File("tall.bmp"), 10, 40, 0, 0, 255);
    const std::optional<TRaster> box = RenderPreview(dir.File("tall.bmp"), 2);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->Width, 626);
    EXPECT_EQ(box->Height, 286);
    const TPreviewGeometry at = PreviewGeometry(10, 40);
    const auto pixel = [&](int x, int y) { return box->Row(y)[x * 3 + 2]; }; // blue
    const auto red = [&](int x, int y) { return box->Row(y)[x * 3]; };
    EXPECT_EQ(red(2 * at.X - 1, 100), 255); // white
    EXPECT_EQ(red(2 * at.X + 2, 100), 0);   // the picture
    EXPECT_EQ(pixel(2 * at.X + 2, 100), 255);

    EXPECT_FALSE(RenderPreview(dir.File("missing.bmp")));
    WriteFileBytes(dir.File("text.jpg"), "hello");
    EXPECT_THROW(RenderPreview(dir.File("text.jpg")), EPictureError);
}

TEST(ListRulesTest, CommandStates)
{
    const auto states = [](int count, int selected) {
        const TListCommandStates s = ListCommandStates(count, selected);
        return std::string(s.Remove ? "R" : "-") + (s.RemoveAll ? "A" : "-") +
               (s.MoveUp ? "U" : "-") + (s.MoveDown ? "D" : "-") + (s.Convert ? "C" : "-");
    };
    EXPECT_EQ(states(0, -1), "-----");
    EXPECT_EQ(states(3, -1), "-A--C");
    EXPECT_EQ(states(1, 0), "RA--C");
    EXPECT_EQ(states(3, 0), "RA-DC");
    EXPECT_EQ(states(3, 1), "RAUDC");
    EXPECT_EQ(states(3, 2), "RAU-C");
}

TEST(ListRulesTest, DraggedEntryLandsBeforeTheTarget)
{
    EXPECT_EQ(DraggedEntryIndex(1, 4, 5), 3); // 0, 2, 3, 1, 4
    EXPECT_EQ(DraggedEntryIndex(4, 1, 5), 1); // 0, 4, 1, 2, 3
    EXPECT_EQ(DraggedEntryIndex(2, 2, 5), 2);
    EXPECT_EQ(DraggedEntryIndex(0, -1, 5), 4); // below the last: last
}

TEST(ListRulesTest, DroppedFilesPassTheFolderChecks)
{
    TTempDir dir;
    WriteFileBytes(dir.File("a.png"), "x");
    WriteFileBytes(dir.File("b.txt"), "x");
    WriteFileBytes(dir.File("~$c.png"), "x");
    TPictureList list{dir.File("a.png")};
    const TListAddition addition =
        AddDroppedFiles(list, {dir.File("a.png"), dir.File("b.txt"), dir.File("~$c.png"),
                               dir.Path(), dir.File("z.png")});
    EXPECT_TRUE(addition.Added.empty());
    ASSERT_EQ(addition.Skipped.size(), 5u);
    EXPECT_EQ(addition.Skipped[0].Reason, TSkipReason::Duplicate);
    EXPECT_EQ(addition.Skipped[1].Reason, TSkipReason::NotAPictureType);
    EXPECT_EQ(addition.Skipped[2].Reason, TSkipReason::TemporaryFile);
    EXPECT_EQ(addition.Skipped[3].Reason, TSkipReason::NotFound); // a folder is no file
    EXPECT_EQ(addition.Skipped[4].Reason, TSkipReason::NotFound);
}

TEST(SettingsValuesTest, DateTimeIsStoredAsTheLittleEndianDouble)
{
    const TDateTime value = EncodeDateTime(2024, 1, 2, 13, 30);
    EXPECT_EQ(value, 45293.5625);
    const std::string stored = DateTimeToSettingBytes(value);
    EXPECT_EQ(stored, std::string("\x00\x00\x00\x00\xb2\x1d\xe6\x40", 8));
    // What the window stores, the reader takes back.
    TSavedSettings loaded;
    LoadSavedSettings({{kSettingCreated, {TSettingsValue::TType::Bytes, stored}}}, 1.0, loaded);
    EXPECT_EQ(loaded.Created, value);
    EXPECT_EQ(loaded.Modified, 1.0);
}

TEST(SizeEstimateTest, CachedPerQualityUntilTheFileChanges)
{
    TTempDir dir;
    const std::string picture = dir.File("p.bmp");
    WriteTestBmp(picture, 64, 48, 10, 120, 200);
    TSizeEstimator estimator;
    const std::optional<std::int64_t> low = estimator.EncodedSize(picture, 10);
    const std::optional<std::int64_t> high = estimator.EncodedSize(picture, 100);
    ASSERT_TRUE(low && high);
    EXPECT_LT(*low, *high);
    EXPECT_EQ(estimator.EncodedSize(picture, 10), low);

    WriteTestBmp(picture, 640, 480, 10, 120, 200); // another size on disk: encoded again
    EXPECT_GT(*estimator.EncodedSize(picture, 10), *low);

    std::atomic<bool> cancelled{false};
    WriteFileBytes(dir.File("broken.png"), "no");
    const std::optional<std::int64_t> total = estimator.Estimate(
        {picture, dir.File("broken.png"), dir.File("missing.png")}, 10, cancelled);
    ASSERT_TRUE(total);
    EXPECT_EQ(*total,
              kPdfDocumentOverhead + kPdfPageOverhead + *estimator.EncodedSize(picture, 10));
    cancelled = true;
    EXPECT_FALSE(estimator.Estimate({picture}, 10, cancelled));
}

TEST(SizeEstimateTest, AboutText)
{
    EXPECT_EQ(AboutSizeText(300), "about 1 kB");
    EXPECT_EQ(AboutSizeText(350'400), "about 350 kB");
    EXPECT_EQ(AboutSizeText(999'499), "about 999 kB");
    EXPECT_EQ(AboutSizeText(999'500), "about 1.0 MB");
    EXPECT_EQ(AboutSizeText(12'400'000), "about 12.4 MB");
    EXPECT_EQ(AboutSizeText(2'345'000'000), "about 2.35 GB");
}

TEST(LatestJobTest, NewerRequestReplacesWaitingOneAndStopsRunningOne)
{
    TLatestJobWorker worker;
    std::atomic<bool> firstStarted{false};
    std::atomic<bool> firstSawCancel{false};
    std::atomic<int> secondRuns{0};
    std::atomic<int> thirdRuns{0};
    worker.Post([&](const std::atomic<bool>& cancelled) {
        firstStarted = true;
        while (!cancelled.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        firstSawCancel = true;
    });
    while (!firstStarted.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    worker.Post([&](const std::atomic<bool>&) { ++secondRuns; });
    worker.Post([&](const std::atomic<bool>&) { ++thirdRuns; });
    worker.Stop(); // waits for nothing: Stop drops what waits
    EXPECT_TRUE(firstSawCancel.load());
    EXPECT_FALSE(worker.Busy());
    worker.Post([&](const std::atomic<bool>&) { ++thirdRuns; });
    while (worker.Busy())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(secondRuns.load(), 0);
    EXPECT_GE(thirdRuns.load(), 1);
}
