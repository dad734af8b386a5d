#include "app/convert/ConversionRun.h"

#include <cstdio>
#include <functional>
#include <regex>
#include <utility>

#include <gtest/gtest.h>

#include "app/imaging/JpegEncoder.h"
#include "platform/Exceptions.h"
#include "platform/Services.h"
#include "tests/convert/TestPictures.h"
#include "tests/support/TestSupport.h"

namespace
{

// Records every call in order, and answers the cancel question through a predicate that sees
// the calls so far.
class TRecordingObserver : public IConversionObserver
{
public:
    std::vector<std::string> Events;
    std::function<bool(const std::vector<std::string>&)> Cancel = [](const auto&) { return false; };
    std::function<void()> OnProcessMessages = [] {};

    void SetStatusText(const std::string& text) override { Events.push_back("status " + text); }
    void SetPercentText(const std::string& text) override { Events.push_back("percent " + text); }
    void SetProgressMax(int max) override { Events.push_back("max " + std::to_string(max)); }
    void SetProgressPosition(int position) override
    {
        Events.push_back("position " + std::to_string(position));
    }
    void ProcessMessages() override
    {
        Events.push_back("events");
        OnProcessMessages();
    }
    bool CancelRequested() override
    {
        const bool cancel = Cancel(Events);
        Events.push_back(cancel ? "cancel? yes" : "cancel? no");
        return cancel;
    }
    void PictureSkipped(int index, const std::string& path, const std::string&) override
    {
        Events.push_back("skipped " + std::to_string(index) + " " + path);
    }
};

// Cancel from the nth question on (1-based).
auto CancelFromQuestion(int n)
{
    return [n](const std::vector<std::string>& events) {
        int asked = 1;
        for (const std::string& event : events)
            asked += event.rfind("cancel?", 0) == 0 ? 1 : 0;
        return asked >= n;
    };
}

int CountOf(const std::vector<std::string>& events, const std::string& prefix)
{
    int count = 0;
    for (const std::string& event : events)
        count += event.rfind(prefix, 0) == 0 ? 1 : 0;
    return count;
}

class ConversionRunTest : public ::testing::Test
{
protected:
    std::string Picture(const std::string& name, int width, int height)
    {
        const std::string path = m_dir.File(name);
        WriteTestBmp(path, width, height, 200, 40, 40);
        return path;
    }
    std::string NotAPicture(const std::string& name)
    {
        const std::string path = m_dir.File(name);
        WriteFileBytes(path, "this is text, not a picture\n");
        return path;
    }
    std::string Output() const { return m_dir.File("out.pdf"); }

    void Run(TConversionRun& run, const std::vector<std::string>& paths,
             TRecordingObserver& observer, const TDocumentProperties& properties = {})
    {
        run.SetFileName(Output());
        run.Run(paths, 60, properties, observer);
    }

    TTempDir m_dir;
};

} // namespace

// The progress window reports these numbers to the Convert command.
static_assert(rrNone == 0 && rrWritten == 1 && rrCancelled == 2);

TEST(PercentTextTest, RoundsHalvesToEven)
{
    EXPECT_EQ(PercentText(1, 8), "12%"); // 12.5
    EXPECT_EQ(PercentText(3, 8), "38%"); // 37.5
    EXPECT_EQ(PercentText(5, 8), "62%"); // 62.5
    EXPECT_EQ(PercentText(7, 8), "88%"); // 87.5
    EXPECT_EQ(PercentText(1, 3), "33%");
    EXPECT_EQ(PercentText(2, 3), "67%");
    EXPECT_EQ(PercentText(1, 2), "50%");
    EXPECT_EQ(PercentText(8, 8), "100%");
    EXPECT_EQ(PercentText(1, 1000), "0%");
}

TEST_F(ConversionRunTest, StepsInOrderWithAMissingFileAndDifferentPageSizes)
{
    const std::string a = Picture("a.bmp", 40, 30);
    const std::string missing = m_dir.File("gone.bmp");
    const std::string c = Picture("c.bmp", 20, 50);

    TConversionRun run;
    EXPECT_EQ(run.RunResult(), rrNone);
    TRecordingObserver observer;
    Run(run, {a, missing, c}, observer);

    const std::vector<std::string> expected = {
        "position 0",        "max 3",       "cancel? no",        "events",
        "status page1:" + a, "percent 33%", "position 1",        "skipped 1 " + missing,
        "cancel? no",        "events",      "status page3:" + c, "percent 100%",
        "position 3"};
    EXPECT_EQ(observer.Events, expected);
    EXPECT_EQ(run.RunResult(), rrWritten);

    std::string check;
    EXPECT_TRUE(QpdfCheckPasses(Output(), &check)) << check;
    EXPECT_EQ(MediaBoxes(Output()), (std::vector<std::pair<int, int>>{{40, 30}, {20, 50}}));
    EXPECT_TRUE(PdftoppmRenders(Output(), &check)) << check;
}

TEST_F(ConversionRunTest, EightPicturesShowTheEvenRoundedPercentages)
{
    std::vector<std::string> paths;
    for (int i = 0; i < 8; ++i)
        paths.push_back(Picture("p" + std::to_string(i) + ".bmp", 2, 2));
    TConversionRun run;
    TRecordingObserver observer;
    Run(run, paths, observer);

    std::vector<std::string> percents;
    for (const std::string& event : observer.Events)
        if (event.rfind("percent ", 0) == 0)
            percents.push_back(event.substr(8));
    EXPECT_EQ(percents,
              (std::vector<std::string>{"12%", "25%", "38%", "50%", "62%", "75%", "88%", "100%"}));
    EXPECT_EQ(MediaBoxes(Output()).size(), 8u);
}

TEST_F(ConversionRunTest, TheFirstPageIsTheWorkedExampleOfTheLayout)
{
    TConversionRun run;
    TRecordingObserver observer;
    Run(run, {Picture("big.bmp", 800, 600)}, observer);
    const std::string pdf = ReadFileBytes(Output());
    // The picture fills the page exactly; the empty red text line prints after it.
    const std::regex content("/F0 10 Tf\nq\n0 0 800 600 re\nW\nn\n800 0 0 600 0 0 cm\n"
                             "/PRJpegImage1[0-9]+ Do\nQ\n/F1 20 Tf\n1 0 0 rg\n14 TL\nBT\n"
                             "17 550 Td\nET\n");
    EXPECT_TRUE(std::regex_search(pdf, content));
    EXPECT_NE(pdf.find("/BaseFont /Helvetica-Bold"), std::string::npos);
}

TEST_F(ConversionRunTest, AOnePixelFirstPictureGetsAOnePixelPageShowingIt)
{
    TConversionRun run;
    TRecordingObserver observer;
    Run(run, {Picture("dot.bmp", 1, 1), Picture("wide.bmp", 30, 2)}, observer);
    ASSERT_EQ(run.RunResult(), rrWritten);
    EXPECT_EQ(MediaBoxes(Output()), (std::vector<std::pair<int, int>>{{1, 1}, {30, 2}}));
    const std::string pdf = ReadFileBytes(Output());
    // Margins 0 before the size: the item covers the page instead of lying outside it.
    EXPECT_NE(pdf.find("q\n0 0 1 1 re\nW\nn\n1 0 0 1 0 0 cm\n/PRJpegImage1"), std::string::npos);
    EXPECT_NE(pdf.find("q\n0 0 30 2 re\nW\nn\n30 0 0 2 0 0 cm\n/PRJpegImage1"), std::string::npos);
    std::string check;
    EXPECT_TRUE(QpdfCheckPasses(Output(), &check)) << check;
}

TEST_F(ConversionRunTest, CancelBeforeTheFirstPictureWritesNothing)
{
    WriteFileBytes(Output(), "an older file");
    TConversionRun run;
    TRecordingObserver observer;
    observer.Cancel = CancelFromQuestion(1);
    Run(run, {m_dir.File("missing.bmp"), Picture("a.bmp", 4, 4), Picture("b.bmp", 4, 4)}, observer);
    EXPECT_EQ(run.RunResult(), rrCancelled);
    EXPECT_EQ(observer.Events,
              (std::vector<std::string>{"position 0", "max 3",
                                        "skipped 0 " + m_dir.File("missing.bmp"), "cancel? yes"}));
    EXPECT_EQ(ReadFileBytes(Output()), "an older file");
}

TEST_F(ConversionRunTest, CancelIsReadOnlyBeforeAnEntryWhoseFileExists)
{
    const std::string a = Picture("a.bmp", 4, 4);
    const std::string b = Picture("b.bmp", 5, 5);
    {
        // Pressed while the last picture is prepared: the run finishes and writes the file.
        TConversionRun run;
        TRecordingObserver observer;
        bool pressed = false;
        observer.OnProcessMessages = [&] { pressed = CountOf(observer.Events, "events") == 2; };
        observer.Cancel = [&](const auto&) { return pressed; };
        Run(run, {a, b}, observer);
        EXPECT_EQ(run.RunResult(), rrWritten);
        EXPECT_EQ(CountOf(observer.Events, "cancel?"), 2);
        EXPECT_EQ(MediaBoxes(Output()).size(), 2u);
    }
    {
        // Pressed after the first page when every later file is missing: never read.
        TConversionRun run;
        TRecordingObserver observer;
        observer.Cancel = CancelFromQuestion(2);
        Run(run, {a, m_dir.File("x.bmp"), m_dir.File("y.bmp")}, observer);
        EXPECT_EQ(run.RunResult(), rrWritten);
        EXPECT_EQ(CountOf(observer.Events, "cancel?"), 1);
        EXPECT_EQ(MediaBoxes(Output()).size(), 1u);
    }
    {
        // Pressed after the first page with another picture to come: nothing is written and
        // the file of the previous run stays as it was.
        const std::string before = ReadFileBytes(Output());
        TConversionRun run;
        TRecordingObserver observer;
        observer.Cancel = CancelFromQuestion(2);
        Run(run, {b, a}, observer);
        EXPECT_EQ(run.RunResult(), rrCancelled);
        EXPECT_EQ(observer.Events.back(), "cancel? yes");
        EXPECT_EQ(ReadFileBytes(Output()), before);
    }
}

TEST_F(ConversionRunTest, AFailingPictureIsSkippedWithItsPositionLeftAsAGap)
{
    const std::string bad = NotAPicture("bad.jpg");
    const std::string good = Picture("good.bmp", 6, 7);
    TConversionRun run;
    TRecordingObserver observer;
    Run(run, {bad, good}, observer);
    EXPECT_EQ(run.RunResult(), rrWritten);
    EXPECT_EQ(observer.Events,
              (std::vector<std::string>{"position 0", "max 2", "cancel? no", "skipped 0 " + bad,
                                        "cancel? no", "events", "status page2:" + good,
                                        "percent 100%", "position 2"}));
    EXPECT_EQ(MediaBoxes(Output()), (std::vector<std::pair<int, int>>{{6, 7}}));
}

TEST_F(ConversionRunTest, NoPrintablePictureFailsAndLeavesNoFile)
{
    TConversionRun run;
    TRecordingObserver observer;
    std::vector<std::string> reasons;
    struct TReasonObserver : TRecordingObserver
    {
        std::vector<std::string>* Reasons = nullptr;
        void PictureSkipped(int, const std::string&, const std::string& reason) override
        {
            Reasons->push_back(reason);
        }
    } reasonObserver;
    reasonObserver.Reasons = &reasons;

    run.SetFileName(Output());
    try
    {
        run.Run({NotAPicture("a.png"), m_dir.File("missing.gif"), NotAPicture("c.bmp")}, 60, {},
                reasonObserver);
        FAIL() << "no exception";
    }
    catch (const Exception& e)
    {
        EXPECT_STREQ(e.what(), "No picture could be converted.");
    }
    EXPECT_EQ(run.RunResult(), rrNone);
    EXPECT_FALSE(FileExists(Output()));
    ASSERT_EQ(reasons.size(), 3u);
    EXPECT_NE(reasons[0], "");
    EXPECT_EQ(reasons[1], "file not found");

    // An existing output survives such a run too, and so does one in an unwritable place.
    WriteFileBytes(Output(), "kept");
    TConversionRun again;
    EXPECT_THROW(Run(again, {NotAPicture("d.png")}, observer), Exception);
    EXPECT_EQ(ReadFileBytes(Output()), "kept");
}

TEST_F(ConversionRunTest, AFailureAtTheEndIsRethrownAfterTheDocumentIsDiscarded)
{
    TConversionRun run;
    TRecordingObserver observer;
    run.SetFileName(m_dir.File("no/such/folder/out.pdf"));
    EXPECT_THROW(run.Run({Picture("a.bmp", 3, 3)}, 60, {}, observer), EFileError);
    EXPECT_EQ(run.RunResult(), rrNone);
    // The document was aborted, so a new run on the same components starts cleanly.
    run.SetFileName(Output());
    run.Run({Picture("b.bmp", 3, 3)}, 60, {}, observer);
    EXPECT_EQ(run.RunResult(), rrWritten);
}

TEST_F(ConversionRunTest, PropertiesReachTheInfoDictionary)
{
    const ScopedTZ zone("UTC0");
    TDocumentProperties properties;
    properties.Title = "Holiday";
    properties.Author = "Ann (Smith)";
    properties.Subject = "Beach";
    properties.Keywords = "sea sand";
    // The whole day of the date picker and the time of the time picker.
    properties.CreatedDate = EncodeDateTime(2020, 5, 17, 23, 59);
    properties.CreatedTime = EncodeDateTime(1999, 1, 1, 8, 30, 15);
    // Before 1899 the day stays the picked one: a time picker's fraction is positive.
    properties.ModifiedDate = EncodeDateTime(1815, 6, 18);
    properties.ModifiedTime = EncodeDateTime(1899, 12, 30, 17, 0, 1);
    properties.Creator = "Creator X";
    properties.Producer = "Producer Y";

    TConversionRun run;
    TRecordingObserver observer;
    Run(run, {Picture("a.bmp", 3, 3)}, observer, properties);
    const std::string pdf = ReadFileBytes(Output());
    for (const char* entry :
         {"/Title (Holiday)", "/Author (Ann \\(Smith\\))", "/Subject (Beach)",
          "/Keywords (sea sand)", "/Creator (Creator X)", "/Producer (Producer Y)",
          "/CreationDate (D:20200517083015", "/ModDate (D:18150618170001"})
        EXPECT_NE(pdf.find(entry), std::string::npos) << entry;
}

// Workers prepare pictures ahead, but the run prints them and talks to the window in list
// order: the document and every observer call are those of a run without workers.
TEST_F(ConversionRunTest, TheDocumentAndTheEventsAreTheSameWhateverTheWorkers)
{
    std::vector<std::string> paths;
    for (int i = 0; i < 9; ++i)
        paths.push_back(Picture("p" + std::to_string(i) + ".bmp", 3 + i * 7, 40 - i * 3));
    const std::string jpeg = m_dir.File("photo.jpg");
    TRaster gradient = NewRaster(64, 48, 3);
    for (std::size_t i = 0; i < gradient.Pixels.size(); ++i)
        gradient.Pixels[i] = static_cast<std::uint8_t>(i * 5 % 256);
    WriteFileBytes(jpeg, EncodeJpeg(gradient, 95));
    paths.insert(paths.begin() + 2, jpeg);
    paths.insert(paths.begin() + 4, NotAPicture("bad.png"));
    paths.insert(paths.begin() + 6, m_dir.File("missing.gif"));

    std::string first;
    std::vector<std::string> firstEvents;
    for (const int workers : {1, 2, 3, 8})
    {
        const ScopedTZ zone("UTC0");
        const ScopedClock clock(EncodeDateTime(2024, 3, 1, 12, 0, 0));
        TCountingRandom random;
        const ScopedRandom randomService(random);
        TConversionRun run;
        run.SetWorkers(workers);
        TRecordingObserver observer;
        Run(run, paths, observer);
        ASSERT_EQ(run.RunResult(), rrWritten);
        const std::string pdf = ReadFileBytes(Output());
        if (workers == 1)
        {
            first = pdf;
            firstEvents = observer.Events;
            EXPECT_EQ(MediaBoxes(Output()).size(), 10u);
            continue;
        }
        EXPECT_EQ(pdf, first) << workers << " workers";
        EXPECT_EQ(observer.Events, firstEvents) << workers << " workers";
    }
}

TEST_F(ConversionRunTest, CancelWithWorkInFlightDiscardsItAndWritesNothing)
{
    std::vector<std::string> paths;
    for (int i = 0; i < 12; ++i)
        paths.push_back(Picture("p" + std::to_string(i) + ".bmp", 300, 200));
    // A file deleted once the run has begun (and its picture perhaps prepared already) is
    // missing when its turn comes, as without workers.
    std::vector<std::string> expected;
    for (const int workers : {1, 4})
    {
        WriteFileBytes(Output(), "an older file");
        WriteTestBmp(paths[2], 300, 200, 1, 2, 3);
        TConversionRun run;
        run.SetWorkers(workers);
        TRecordingObserver observer;
        observer.OnProcessMessages = [&] { std::remove(paths[2].c_str()); };
        observer.Cancel = CancelFromQuestion(4);
        Run(run, paths, observer);
        EXPECT_EQ(run.RunResult(), rrCancelled);
        EXPECT_EQ(ReadFileBytes(Output()), "an older file");
        EXPECT_EQ(CountOf(observer.Events, "skipped 2 "), 1);
        if (workers == 1)
            expected = observer.Events;
        else
            EXPECT_EQ(observer.Events, expected);
    }
}

// The pictures' bytes wait in a temporary file that never has a name: nothing shows in the
// temporary folder while the run goes on, nor after it ends, however it ends.
TEST_F(ConversionRunTest, NothingIsLeftInTheTemporaryFolderHoweverTheRunEnds)
{
    TTempDir tmp;
    const ScopedEnv tmpdir("TMPDIR", tmp.Path());
    const std::vector<std::string> pictures = {Picture("a.bmp", 30, 20), Picture("b.bmp", 20, 30)};
    const std::vector<std::string> none;
    // How the run ends: written, cancelled, failed to write.
    for (const TRunResult result : {rrWritten, rrCancelled, rrNone})
    {
        TConversionRun run;
        TRecordingObserver observer;
        observer.OnProcessMessages = [&] { EXPECT_EQ(FolderEntries(tmp.Path()), none); };
        if (result == rrCancelled)
            observer.Cancel = CancelFromQuestion(2);
        if (result == rrNone)
        {
            run.SetFileName(m_dir.File("no/folder/out.pdf"));
            EXPECT_THROW(run.Run(pictures, 60, {}, observer), EFileError);
        }
        else
            Run(run, pictures, observer);
        EXPECT_EQ(run.RunResult(), result);
        EXPECT_EQ(FolderEntries(tmp.Path()), none);
    }
}
