#include "app/cli/Cli.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "app/cli/CancelSignals.h"
#include "platform/SaveFile.h"
#include "platform/Services.h"
#include "platform/TemporaryFile.h"
#include "tests/convert/TestPictures.h"
#include "tests/support/TestSupport.h"

namespace
{

struct TCliOutcome
{
    int Status = -1;
    std::string Out;
    std::string Err;
};

class CliTest : public ::testing::Test
{
protected:
    TCliOutcome Cli(std::vector<std::string> args, const std::string& codeset = "UTF-8",
                    const ICodePage* codePage = &Utf8CodePage())
    {
        args.insert(args.begin(), "pictova-cli");
        std::vector<const char*> argv;
        for (const std::string& arg : args)
            argv.push_back(arg.c_str());
        std::ostringstream out;
        std::ostringstream err;
        TCliContext context{out, err};
        context.Codeset = codeset;
        context.CodePage = codePage;
        context.ErrIsTerminal = m_terminal;
        context.TerminalWidth = 60;
        context.CancelFlag = &m_cancel;
        TCliOutcome outcome;
        outcome.Status = RunCli(static_cast<int>(argv.size()), argv.data(), context);
        outcome.Out = out.str();
        outcome.Err = err.str();
        return outcome;
    }

    std::string Picture(const std::string& name, int width = 8, int height = 6)
    {
        WriteTestBmp(m_dir.File(name), width, height, 20, 120, 220);
        return m_dir.File(name);
    }
    std::string NotAPicture(const std::string& name)
    {
        WriteFileBytes(m_dir.File(name), "plain text\n");
        return m_dir.File(name);
    }
    std::string Output() const { return m_dir.File("out.pdf"); }

    TTempDir m_dir;
    bool m_terminal = false;
    volatile std::sig_atomic_t m_cancel = 0;
};

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

TEST_F(CliTest, UsageErrorsExitWithTwoAndAHint)
{
    TCliOutcome none = Cli({});
    EXPECT_EQ(none.Status, 2);
    EXPECT_EQ(none.Err.rfind("pictova-cli [options] PICTURE... -o OUTPUT.pdf\n", 0), 0u);

    const std::string picture = Picture("a.bmp");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{picture, "-o", Output(), "-q", "0"},
          {picture, "-o", Output(), "--quality", "abc"},
          {picture},
          {picture, "--bogus", "-o", Output()},
          {picture, "-o", m_dir.Path()},
          {picture, "-o", m_dir.File("missing/out.pdf")},
          {picture, "-o", Output(), "--created", "2024-02-30"}})
    {
        const TCliOutcome outcome = Cli(args);
        EXPECT_EQ(outcome.Status, 2) << outcome.Err;
        EXPECT_EQ(outcome.Err.rfind("pictova-cli: ", 0), 0u) << outcome.Err;
        EXPECT_TRUE(Contains(outcome.Err, "Try 'pictova-cli --help' for more information.\n"));
    }
    EXPECT_FALSE(FileExists(Output()));
}

TEST_F(CliTest, AnOutputThatIsAPictureIsRefused)
{
    const std::string kept = Picture("kept.bmp");
    const std::string other = Picture("other.bmp");
    const std::string raw = m_dir.File("scan.dat");
    WriteFileBytes(raw, ReadFileBytes(other));
    const std::string before = ReadFileBytes(kept);

    // A forgotten output name: -o takes the first picture.
    const TCliOutcome forgotten = Cli({"-o", kept, other});
    EXPECT_EQ(forgotten.Status, 2);
    EXPECT_EQ(forgotten.Err, "pictova-cli: " + kept +
                                 ": is a picture; give the PDF file to write\n"
                                 "Try 'pictova-cli --help' for more information.\n");
    EXPECT_EQ(ReadFileBytes(kept), before);

    // One of the pictures, whatever its name.
    const TCliOutcome same = Cli({other, raw, "-o", raw});
    EXPECT_EQ(same.Status, 2);
    EXPECT_EQ(same.Err, "pictova-cli: " + raw +
                            ": is one of the pictures; give the PDF file to write\n"
                            "Try 'pictova-cli --help' for more information.\n");
    EXPECT_EQ(ReadFileBytes(raw), ReadFileBytes(other));
}

TEST_F(CliTest, HelpAndVersionGoToStandardOutput)
{
    const TCliOutcome help = Cli({"--help"});
    EXPECT_EQ(help.Status, 0);
    // The option block comes first, as one piece.
    EXPECT_EQ(help.Out.rfind(
                  "pictova-cli [options] PICTURE... -o OUTPUT.pdf\n"
                  "  -o, --output FILE      the PDF to write (required); replaced only when the "
                  "run succeeds\n"
                  "  -q, --quality N        JPEG quality 1..100 (default 60)\n"
                  "      --title, --author, --subject, --keywords, --creator, --producer TEXT\n"
                  "                         document properties (creator and producer default to "
                  "\"Kestrom Pictova\")\n"
                  "      --created, --modified YYYY-MM-DD[THH:MM[:SS]]   local date-times "
                  "(default: now)\n"
                  "      --folder DIR       add the pictures of a folder, as the window's Add "
                  "folder does (repeatable)\n"
                  "  -j, --jobs N           pictures prepared at once (default: the number of "
                  "cores)\n"
                  "      --quiet            no progress output\n"
                  "  -h, --help             usage;  --version  the version\n",
                  0),
              0u)
        << help.Out;
    EXPECT_EQ(help.Err, "");
    const TCliOutcome version = Cli({"--version"});
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Out.rfind("pictova-cli (Kestrom Pictova) ", 0), 0u);
}

TEST_F(CliTest, NoPictureLeftAsksForImageFiles)
{
    const TCliOutcome outcome = Cli({m_dir.File("missing.png"), m_dir.Path(), "--folder",
                                     m_dir.File("nowhere"), "-o", Output()});
    EXPECT_EQ(outcome.Status, 2);
    EXPECT_EQ(outcome.Err, "pictova-cli: " + m_dir.File("missing.png") + ": not found\n" +
                               "pictova-cli: " + m_dir.Path() + ": not found\n" +
                               "pictova-cli: " + m_dir.File("nowhere") +
                               ": cannot read the folder: No such file or directory\n" +
                               "Please add image files!\n");
    EXPECT_FALSE(FileExists(Output()));
}

TEST_F(CliTest, AGoodRunWritesThePropertiesAndSkipsWhatItCannotUse)
{
    const ScopedTZ zone("UTC0");
    const std::string a = Picture("a.bmp", 10, 20);
    const std::string b = Picture("b.bmp", 30, 40);
    const std::string bad = NotAPicture("bad.png");
    const TCliOutcome outcome = Cli({a,
                                     m_dir.File("gone.gif"),
                                     bad,
                                     a,
                                     b,
                                     "-o",
                                     Output(),
                                     "--title",
                                     "\xCE\xA9mega \xE2\x82\xAC",
                                     "--author=Ann",
                                     "--subject",
                                     "S",
                                     "--keywords",
                                     "k1 k2",
                                     "--creator",
                                     "C",
                                     "--producer",
                                     "P",
                                     "--created",
                                     "2020-05-17T08:30:15",
                                     "--modified",
                                     "2021-01-02",
                                     "-q",
                                     "100"});
    EXPECT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_EQ(outcome.Out, "");
    EXPECT_TRUE(Contains(outcome.Err, "pictova-cli: " + m_dir.File("gone.gif") + ": not found\n"));
    EXPECT_TRUE(Contains(outcome.Err, "pictova-cli: " + a + ": already in the list\n"));
    EXPECT_TRUE(Contains(outcome.Err, "pictova-cli: " + bad + ": "));
    EXPECT_FALSE(Contains(outcome.Err, "\r")); // no progress when stderr is no terminal

    EXPECT_EQ(MediaBoxes(Output()), (std::vector<std::pair<int, int>>{{10, 20}, {30, 40}}));
    std::string check;
    EXPECT_TRUE(QpdfCheckPasses(Output(), &check)) << check;
    const std::string pdf = ReadFileBytes(Output());
    // A title beyond Latin-1 is written in the unicode form (byte order mark, UTF-16BE).
    EXPECT_TRUE(Contains(pdf, "/Title <FEFF03A9006D006500670061002020AC>")) << pdf.substr(0, 600);
    for (const char* entry :
         {"/Author (Ann)", "/Subject (S)", "/Keywords (k1 k2)", "/Creator (C)", "/Producer (P)",
          "/CreationDate (D:20200517083015", "/ModDate (D:20210102000000"})
        EXPECT_TRUE(Contains(pdf, entry)) << entry;
}

TEST_F(CliTest, DefaultsAndLatinCodesetArguments)
{
    // What main does under a Latin-9 locale: the writer reads Windows-1252.
    const ScopedCodePage codePage(Windows1252CodePage());
    const TCliOutcome outcome = Cli({Picture("a.bmp"), "-o", Output(), "--title", "\xA4 caf\xE9"},
                                    "ISO-8859-15", &Windows1252CodePage());
    ASSERT_EQ(outcome.Status, 0) << outcome.Err;
    const std::string pdf = ReadFileBytes(Output());
    // The euro sign is 0x80 in Windows-1252 but a bullet to readers of the literal form.
    EXPECT_TRUE(Contains(pdf, "/Title <FEFF20AC002000630061006600E9>"));
    EXPECT_TRUE(Contains(pdf, "/Creator (Kestrom Pictova)"));
    EXPECT_TRUE(Contains(pdf, "/Producer (Kestrom Pictova)"));
    EXPECT_TRUE(Contains(pdf, "/CreationDate (D:"));
}

TEST_F(CliTest, SettingsStartFromTheWindowsSavedValuesAndOptionsWin)
{
    const ScopedTZ zone("UTC0");
    const ScopedCodePage codePage(Windows1252CodePage());
    const ScopedEnv config("XDG_CONFIG_HOME", m_dir.File("config"));
    ASSERT_EQ(RunCommand("mkdir -p " + ShellQuoted(m_dir.File("config/kestrom"))), 0);
    const std::string settings = m_dir.File("config/kestrom/pictova.conf");
    // As the window saves them; texts are UTF-8 there, whatever the locale.
    WriteFileBytes(settings, "[General]\n"
                             "apptitle=Saved title\n"
                             "author=caf\xC3\xA9 \xE2\x82\xAC\n"
                             "createtime=@ByteArray(\\0\\0\\0\\0\\xb2\\x1d\\xe6@)\n"
                             "creator=\"Pictova = great\"\n"
                             "keywords=\n"
                             "modifytime=@ByteArray(\\0\\0\\0\\0\\xb2\\x1d\\xe6@)\n"
                             "positions=5\n"
                             "subject=@@at\n");
    const std::string picture = Picture("a.bmp", 64, 64);
    // Converts; returns the length of the embedded JPEG, which the quality decides.
    const auto jpegLength = [&](const std::vector<std::string>& options) {
        std::vector<std::string> args = {picture, "-o", Output()};
        args.insert(args.end(), options.begin(), options.end());
        const TCliOutcome outcome = Cli(args, "ISO-8859-15", &Windows1252CodePage());
        EXPECT_EQ(outcome.Status, 0) << outcome.Err;
        const std::string pdf = ReadFileBytes(Output());
        const std::size_t length = pdf.rfind("/Length ", pdf.find("/DCTDecode"));
        return length == std::string::npos ? -1 : std::atoi(pdf.c_str() + length + 8);
    };

    jpegLength({"--settings", "--title", "Given \xA4", "--modified", "2021-01-02"});
    const std::string pdf = ReadFileBytes(Output());
    for (const char* entry :
         {"/Title <FEFF0047006900760065006E002020AC>", "/Author <FEFF00630061006600E9002020AC>",
          "/Subject (@at)", "/Creator (Pictova = great)", "/Producer (Kestrom Pictova)",
          "/CreationDate (D:20240102133000", "/ModDate (D:20210102000000"})
        EXPECT_TRUE(Contains(pdf, entry)) << entry;
    // The saved quality 5 unless one is given.
    EXPECT_EQ(jpegLength({"--settings"}), jpegLength({"-q", "5"}));
    EXPECT_NE(jpegLength({"--settings"}), jpegLength({"--settings", "-q", "100"}));

    // Without --settings nothing saved is used.
    jpegLength({});
    EXPECT_FALSE(Contains(ReadFileBytes(Output()), "Saved title"));

    // A value the run cannot use stops it before any picture is read.
    WriteFileBytes(settings, "[General]\nauthor=@ByteArray(x)\n");
    const std::string before = ReadFileBytes(Output());
    const TCliOutcome bad = Cli({picture, "-o", Output(), "--settings"});
    EXPECT_EQ(bad.Status, 1);
    EXPECT_EQ(bad.Err, "pictova-cli: " + settings +
                           ": the value \"author\" holds a byte array, not a text\n");
    EXPECT_EQ(ReadFileBytes(Output()), before);
}

TEST_F(CliTest, FoldersAddTheirPicturesInNameOrder)
{
    ASSERT_EQ(RunCommand("mkdir " + ShellQuoted(m_dir.File("pics"))), 0);
    WriteTestBmp(m_dir.File("pics/img10.bmp"), 10, 10, 0, 0, 0);
    WriteTestBmp(m_dir.File("pics/img2.bmp"), 2, 2, 0, 0, 0);
    WriteTestBmp(m_dir.File("pics/IMG1.BMP"), 1, 1, 0, 0, 0);
    WriteFileBytes(m_dir.File("pics/readme.txt"), "not a picture");
    const std::string first = Picture("first.bmp", 5, 5);
    const TCliOutcome outcome =
        Cli({first, "--folder", m_dir.File("pics/"), "-o", Output(), "--quiet"});
    ASSERT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_EQ(outcome.Err, ""); // the folder's other files are passed over quietly
    EXPECT_EQ(MediaBoxes(Output()),
              (std::vector<std::pair<int, int>>{{5, 5}, {1, 1}, {2, 2}, {10, 10}}));
}

TEST_F(CliTest, AFailedConversionExitsWithOneAndKeepsTheOldOutput)
{
    WriteFileBytes(Output(), "old pdf");
    const TCliOutcome outcome = Cli({NotAPicture("x.png"), NotAPicture("y.jpg"), "-o", Output()});
    EXPECT_EQ(outcome.Status, 1);
    EXPECT_TRUE(Contains(outcome.Err, "pictova-cli: " + m_dir.File("x.png") + ": "));
    EXPECT_TRUE(Contains(outcome.Err, "pictova-cli: " + m_dir.File("y.jpg") + ": "));
    EXPECT_TRUE(Contains(outcome.Err, "pictova-cli: No picture could be converted.\n"));
    EXPECT_EQ(ReadFileBytes(Output()), "old pdf");
}

TEST_F(CliTest, ACancelledRunExitsWith130AndWritesNothing)
{
    WriteFileBytes(Output(), "old pdf");
    m_cancel = 1;
    const TCliOutcome outcome = Cli({Picture("a.bmp"), "-o", Output()});
    EXPECT_EQ(outcome.Status, 130);
    EXPECT_EQ(outcome.Err, "pictova-cli: cancelled; " + Output() + " was not written\n");
    EXPECT_EQ(ReadFileBytes(Output()), "old pdf");
}

TEST_F(CliTest, ProgressOnATerminalIsOneUpdatingLine)
{
    m_terminal = true;
    const std::string a = Picture("a.bmp");
    const std::string longName = Picture(std::string(80, 'n') + ".bmp");
    const TCliOutcome outcome = Cli({a, longName, "-o", Output()});
    ASSERT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_TRUE(Contains(outcome.Err, "\r0% Preparing...\033[K"));
    EXPECT_TRUE(Contains(outcome.Err, "\r50% page1:" + a + "\033[K"));
    // A line too long for the terminal keeps its start and the end of the file name.
    EXPECT_TRUE(Contains(outcome.Err, "\r100% page2:..." + std::string(41, 'n') + ".bmp\033[K\n"))
        << outcome.Err;
    EXPECT_EQ(outcome.Err.back(), '\n');
    for (std::size_t start = 0, cr; (cr = outcome.Err.find('\r', start)) != std::string::npos;
         start = cr + 1)
        EXPECT_LE(outcome.Err.find("\033[K", cr) - cr - 1, 59u);

    const TCliOutcome quiet = Cli({a, "-o", Output(), "--quiet"});
    EXPECT_EQ(quiet.Err, "");
}

TEST_F(CliTest, ATerminalIsNotSentTheControlCharactersOfFileNames)
{
    m_terminal = true;
    const std::string hostile = Picture("t\033]0;owned\a\xC2\x9B.bmp");
    const std::string gone = m_dir.File("g\033[2J.png");
    const TCliOutcome outcome = Cli({hostile, gone, "-o", Output()});
    ASSERT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_TRUE(Contains(outcome.Err, "pictova-cli: " + m_dir.File("g?[2J.png") + ": not found\n"));
    EXPECT_TRUE(Contains(outcome.Err, "t?]0;owned??.bmp"));
    // Only the progress line's own controls reach the terminal.
    EXPECT_EQ(outcome.Err.find("\033]"), std::string::npos);
    EXPECT_EQ(outcome.Err.find("\033[2J"), std::string::npos);
    EXPECT_EQ(outcome.Err.find('\a'), std::string::npos);
    EXPECT_EQ(outcome.Err.find("\xC2\x9B"), std::string::npos);

    m_terminal = false; // a pipe or a file gets the names as they are
    EXPECT_TRUE(Contains(Cli({gone, hostile, "-o", Output()}).Err, gone + ": not found\n"));
}

TEST(CancelSignalsTest, FirstSignalSetsTheFlagSecondEndsAtOnce)
{
    EXPECT_EXIT(
        {
            InstallCancelHandlers();
            std::raise(SIGTERM);
            if (CancelFlag() != 1)
                std::_Exit(3);
            std::raise(SIGINT);
            std::_Exit(4);
        },
        ::testing::ExitedWithCode(130), "");
}

// A second signal that lands while a document is being written removes its temporary file, and
// only while the file is still pending: once renamed into place, the path is no longer its own.
TEST(CancelSignalsTest, ASecondSignalRemovesThePendingTemporaryFileOnly)
{
    const TTempDir dir;
    const std::string kept = dir.File("kept.pdf");
    EXPECT_EXIT(
        {
            InstallCancelHandlers();
            TSaveFile file(dir.File("out.pdf"));
            file.Stream().Write("%PDF-1.2\n");
            std::raise(SIGINT);
            std::raise(SIGINT);
            std::_Exit(4);
        },
        ::testing::ExitedWithCode(130), "");
    std::string listing;
    EXPECT_EQ(RunCommand("ls -A " + ShellQuoted(dir.Path()), &listing), 0);
    EXPECT_EQ(listing, "");

    EXPECT_EXIT(
        {
            InstallCancelHandlers();
            TTemporaryFile file;
            const int fd = file.Create(dir.File(".kept.pdf.XXXXXX.tmp"), 4);
            const std::string path = file.Path();
            if (fd < 0 || close(fd) != 0 || rename(path.c_str(), kept.c_str()) != 0)
                std::_Exit(3);
            file.Keep();
            // A later file of the same name must not be taken for the pending one.
            WriteFileBytes(path, "someone else's");
            std::raise(SIGINT);
            std::raise(SIGINT);
            std::_Exit(4);
        },
        ::testing::ExitedWithCode(130), "");
    EXPECT_TRUE(FileExists(kept));
    EXPECT_EQ(RunCommand("ls -A " + ShellQuoted(dir.Path()), &listing), 0);
    EXPECT_EQ(listing.substr(0, 5), ".kept") << listing;
    EXPECT_NE(listing.find("\nkept.pdf\n"), std::string::npos) << listing;
}
