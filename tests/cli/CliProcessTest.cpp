// The built pictova-cli as a process: exit statuses and Ctrl+C.

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/convert/TestPictures.h"
#include "tests/support/TestSupport.h"

namespace
{

std::string CliPath()
{
    return BinaryDir() + "/bin/pictova-cli";
}

// A started pictova-cli whose stderr is a pipe the test reads only when it chooses to, so the
// program blocks once the pipe is full: that holds it at a known point of the run.
class TCliProcess
{
public:
    explicit TCliProcess(const std::vector<std::string>& args)
    {
        int fds[2];
        if (pipe(fds) != 0)
            throw std::runtime_error("pipe failed");
        std::vector<char*> argv;
        const std::string path = CliPath();
        argv.push_back(const_cast<char*>(path.c_str()));
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0)
        {
            dup2(fds[1], STDERR_FILENO);
            const int null = open("/dev/null", O_RDWR);
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
            close(fds[0]);
            close(fds[1]);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        m_err = fds[0];
    }
    ~TCliProcess()
    {
        if (m_pid > 0)
        {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_err >= 0)
            close(m_err);
    }
    TCliProcess(const TCliProcess&) = delete;
    TCliProcess& operator=(const TCliProcess&) = delete;

    // Waits until the program is stuck writing to its full stderr pipe, somewhere in the middle
    // of the run (its handlers are installed long before).
    bool WaitUntilBlocked()
    {
        for (int i = 0; i < 6000; ++i)
        {
            std::ifstream wchan("/proc/" + std::to_string(m_pid) + "/wchan");
            std::string where;
            std::getline(wchan, where);
            // "pipe_write" or "anon_pipe_write", as the kernel names it.
            if (where.find("pipe_write") != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Sends the signal and waits until the program has taken it (it is no longer pending).
    void Signal(int signal)
    {
        kill(m_pid, signal);
        for (int i = 0; i < 6000 && Pending(signal); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    // SIGKILL cannot be watched as Signal does: a killed program that has not been reaped
    // still shows it pending.
    void Kill() { kill(m_pid, SIGKILL); }

    // Reads stderr to its end and returns the exit status (-1 unless it exited normally).
    int Finish(std::string& err)
    {
        char buffer[4096];
        ssize_t got = 0;
        while ((got = read(m_err, buffer, sizeof buffer)) > 0)
            err.append(buffer, static_cast<std::size_t>(got));
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    bool Pending(int signal) const
    {
        std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
        std::string line;
        const unsigned long long bit = 1ULL << (signal - 1);
        bool pending = false;
        while (std::getline(status, line))
            if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0)
                pending = pending || (std::stoull(line.substr(7), nullptr, 16) & bit) != 0;
        return pending;
    }

    pid_t m_pid = -1;
    int m_err = -1;
};

class CliProcessTest : public ::testing::Test
{
protected:
    // Many pictures that fail, with long paths, so their messages overfill a pipe, then one
    // good picture at the end.
    std::vector<std::string> SlowList()
    {
        std::string folder = m_dir.Path();
        for (int level = 0; level < 4; ++level)
        {
            folder += "/" + std::string(200, static_cast<char>('a' + level));
            mkdir(folder.c_str(), 0755);
        }
        std::vector<std::string> args;
        for (int i = 0; i < 300; ++i)
        {
            args.push_back(folder + "/broken" + std::to_string(i) + ".png");
            WriteFileBytes(args.back(), "not a picture");
        }
        args.push_back(m_dir.File("good.bmp"));
        WriteTestBmp(args.back(), 4, 4, 1, 2, 3);
        args.insert(args.end(), {"-o", Output()});
        return args;
    }
    std::string Output() const { return m_dir.File("out.pdf"); }

    TTempDir m_dir;
};

} // namespace

TEST_F(CliProcessTest, ExitStatuses)
{
    std::string output;
    EXPECT_EQ(RunCommand(ShellQuoted(CliPath())), 2);
    EXPECT_EQ(RunCommand(ShellQuoted(CliPath()) + " x.png -o y.pdf -q 101"), 2);
    EXPECT_EQ(RunCommand(ShellQuoted(CliPath()) + " --version", &output), 0);
    EXPECT_NE(output.find("Kestrom Pictova"), std::string::npos);

    const std::string picture = m_dir.File("a.bmp");
    WriteTestBmp(picture, 3, 2, 9, 9, 9);
    EXPECT_EQ(RunCommand(ShellQuoted(CliPath()) + " " + ShellQuoted(m_dir.File("none.png")) +
                             " -o " + ShellQuoted(Output()),
                         &output),
              2);
    EXPECT_NE(output.find("Please add image files!"), std::string::npos);
    EXPECT_EQ(RunCommand(ShellQuoted(CliPath()) + " " + ShellQuoted(picture) + " -o " +
                             ShellQuoted(Output()),
                         &output),
              0)
        << output;
    EXPECT_EQ(MediaBoxes(Output()), (std::vector<std::pair<int, int>>{{3, 2}}));
}

TEST_F(CliProcessTest, CtrlCCancelsAtTheNextPictureAndKeepsTheOldOutput)
{
    WriteFileBytes(Output(), "old pdf");
    TCliProcess cli(SlowList());
    ASSERT_TRUE(cli.WaitUntilBlocked());
    cli.Signal(SIGINT);
    std::string err;
    EXPECT_EQ(cli.Finish(err), 130);
    EXPECT_NE(err.find("pictova-cli: cancelled; " + Output() + " was not written\n"),
              std::string::npos);
    EXPECT_EQ(ReadFileBytes(Output()), "old pdf");
}

// Killed in the middle of a run, after some pages went to the temporary file: that file had no
// name, so nothing is left in the temporary folder.
TEST_F(CliProcessTest, AKilledRunLeavesNothingInTheTemporaryFolder)
{
    TTempDir tmp;
    const ScopedEnv tmpdir("TMPDIR", tmp.Path());
    std::vector<std::string> args;
    for (int i = 0; i < 3; ++i)
    {
        args.push_back(m_dir.File("page" + std::to_string(i) + ".bmp"));
        WriteTestBmp(args.back(), 200, 100, 10 * i, 20, 30);
    }
    const std::vector<std::string> slow = SlowList();
    args.insert(args.end(), slow.begin(), slow.end());
    TCliProcess cli(args);
    ASSERT_TRUE(cli.WaitUntilBlocked());
    cli.Kill();
    std::string err;
    EXPECT_EQ(cli.Finish(err), -1);
    EXPECT_EQ(FolderEntries(tmp.Path()), std::vector<std::string>{});
}

TEST_F(CliProcessTest, ASecondCtrlCEndsAtOnce)
{
    WriteFileBytes(Output(), "old pdf");
    TCliProcess cli(SlowList());
    ASSERT_TRUE(cli.WaitUntilBlocked());
    cli.Signal(SIGINT);
    cli.Signal(SIGINT);
    std::string err;
    EXPECT_EQ(cli.Finish(err), 130);
    EXPECT_EQ(err.find("cancelled;"), std::string::npos); // it never came back to the run
    EXPECT_EQ(ReadFileBytes(Output()), "old pdf");
}

namespace
{

// The title as two independent readers decode it (poppler, MuPDF), each in UTF-8.
std::vector<std::string> TitlesRead(const std::string& pdf, const std::string& scratch)
{
    std::vector<std::string> titles;
    std::string out;
    RunCommand("pdfinfo -enc UTF-8 " + ShellQuoted(pdf), &out);
    const std::size_t at = out.find("Title:");
    const std::size_t start = out.find_first_not_of(' ', at + 6);
    titles.push_back(at == std::string::npos ? "" : out.substr(start, out.find('\n', at) - start));
    WriteFileBytes(scratch, "print(new Document(scriptArgs[0]).getMetaData('info:Title'));\n");
    RunCommand("mutool run " + ShellQuoted(scratch) + " " + ShellQuoted(pdf) + " 2>/dev/null",
               &out);
    titles.push_back(out.substr(0, out.find('\n')));
    return titles;
}

} // namespace

// What the user typed is what every reader shows: unicode texts as the byte order mark and
// UTF-16BE, texts that fit the literal form in it, from a UTF-8 and from a Latin-1 terminal.
TEST_F(CliProcessTest, TheTitleReadsBackExactlyInEveryReader)
{
    const std::string picture = m_dir.File("a.bmp");
    WriteTestBmp(picture, 3, 2, 9, 9, 9);
    struct TCase
    {
        const char* Locale;
        std::string Typed;
        std::string Shown; // UTF-8
    };
    const std::vector<TCase> cases = {
        {"C.UTF-8",
         "T\xC3\xABst \xCE\xA9mega \xE2\x82\xAC \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80",
         "T\xC3\xABst \xCE\xA9mega \xE2\x82\xAC \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"},
        {"C.UTF-8", "\xE2\x80\x9CQuoted\xE2\x80\x9D \xE2\x80\x93 a(b)\\c",
         "\xE2\x80\x9CQuoted\xE2\x80\x9D \xE2\x80\x93 a(b)\\c"},
        {"C.UTF-8", "Plain title", "Plain title"},
        {"de_DE", "caf\xE9 \xA3", "caf\xC3\xA9 \xC2\xA3"},
    };
    for (const TCase& c : cases)
    {
        SCOPED_TRACE(c.Shown);
        std::string output;
        ASSERT_EQ(RunCommand("LC_ALL=" + std::string(c.Locale) + " " + ShellQuoted(CliPath()) +
                                 " " + ShellQuoted(picture) + " -o " + ShellQuoted(Output()) +
                                 " --title " + ShellQuoted(c.Typed),
                             &output),
                  0)
            << output;
        for (const std::string& title : TitlesRead(Output(), m_dir.File("title.js")))
            EXPECT_EQ(title, c.Shown);
    }
}

// A Ctrl+C that comes while the last picture is being prepared, after the run's last look at
// cancel: the run still writes its document, but it is never put in place. The metafile helper
// stands in for a slow picture; it sends the signal itself.
TEST_F(CliProcessTest, ACtrlCDuringTheLastPictureWritesNothing)
{
    const std::string helper = m_dir.File("signalling-helper");
    WriteFileBytes(helper, "#!/bin/sh\nkill -INT \"$2\"\nexec " +
                               ShellQuoted(BinaryDir() + "/bin/pictova-metafile") + " \"$@\"\n");
    ::chmod(helper.c_str(), 0755);
    const std::string picture = m_dir.File("a.bmp");
    WriteTestBmp(picture, 3, 2, 9, 9, 9);
    WriteFileBytes(Output(), "old pdf");
    std::string output;
    EXPECT_EQ(RunCommand("PICTOVA_METAFILE_HELPER=" + ShellQuoted(helper) + " " +
                             ShellQuoted(CliPath()) + " " + ShellQuoted(picture) + " " +
                             ShellQuoted(TestDataPath("wmf_placeable.wmf")) + " -o " +
                             ShellQuoted(Output()),
                         &output),
              130)
        << output;
    EXPECT_NE(output.find("pictova-cli: cancelled; " + Output() + " was not written\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(ReadFileBytes(Output()), "old pdf");
    std::string listing;
    RunCommand("ls -A " + ShellQuoted(m_dir.Path()), &listing);
    EXPECT_EQ(listing, "a.bmp\nout.pdf\nsignalling-helper\n");
}
