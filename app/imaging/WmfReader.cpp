#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/imaging/PictureReader.h"
#include "app/imaging/Pixbuf.h"
#include "app/imaging/MetafileRenderer.h"

extern char** environ;

namespace
{

std::atomic<long long> g_timeoutMs{10000};

// What the helper may write to stderr that we keep for the reason.
constexpr std::size_t kMaxErrorText = 4096;
constexpr std::size_t kHeaderBytes = 12;

class TFd
{
public:
    TFd() = default;
    explicit TFd(int fd) : m_fd(fd) {}
    ~TFd() { Close(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return m_fd; }
    void Reset(int fd)
    {
        Close();
        m_fd = fd;
    }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

bool IsExecutable(const std::string& path)
{
    struct stat info{};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The environment for the helper: ours, with leak checking off under the address sanitizer
// (libwmf's allocations live until the process ends, which is at once).
std::vector<std::string> HelperEnvironment()
{
    std::vector<std::string> env;
    bool hadAsan = false;
    for (char** p = environ; p != nullptr && *p != nullptr; ++p)
    {
        std::string entry(*p);
        if (entry.rfind("ASAN_OPTIONS=", 0) == 0)
        {
            entry += ":detect_leaks=0";
            hadAsan = true;
        }
        env.push_back(std::move(entry));
    }
    if (!hadAsan)
        env.emplace_back("ASAN_OPTIONS=detect_leaks=0");
    return env;
}

std::string SignalName(int signal)
{
    return "signal " + std::to_string(signal);
}

// Waits for the child; kills it first when asked. Returns the wait status.
int Reap(pid_t pid, bool kill)
{
    if (kill)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR)
    {
    }
    return status;
}

class TChild
{
public:
    explicit TChild(pid_t pid) : m_pid(pid) {}
    // A child still running when we leave (an exception) is killed, never left behind.
    ~TChild()
    {
        if (m_pid > 0)
            Reap(m_pid, true);
    }
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;
    int Finish(bool kill)
    {
        const int status = Reap(m_pid, kill);
        m_pid = -1;
        return status;
    }

private:
    pid_t m_pid;
};

long long NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string FirstLine(const std::string& text)
{
    std::string line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

class TWmfReader : public IPictureReader
{
public:
    const char* FormatName() const override { return "WMF"; }

    bool Recognises(std::string_view bytes) const override
    {
        if (bytes.size() >= 4 && ReadLe32(bytes, 0) == 0x9AC6CDD7) // placeable header
            return true;
        // A plain header: type 1 (memory) or 2 (disk), 9 words long, version 1.0 or 3.0.
        return bytes.size() >= 18 && (ReadLe16(bytes, 0) == 1 || ReadLe16(bytes, 0) == 2) &&
               ReadLe16(bytes, 2) == 9 &&
               (ReadLe16(bytes, 4) == 0x0100 || ReadLe16(bytes, 4) == 0x0300);
    }

    TRaster Read(std::string_view bytes) const override { return RenderWmfInHelper(bytes); }
};

} // namespace

std::string MetafileHelperPath()
{
    if (const char* env = std::getenv("PICTOVA_METAFILE_HELPER"); env != nullptr && *env != '\0')
        return env;
    std::string self(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", self.data(), self.size());
    if (n > 0 && static_cast<std::size_t>(n) < self.size())
    {
        self.resize(static_cast<std::size_t>(n));
        const std::string beside = self.substr(0, self.rfind('/') + 1) + "pictova-metafile";
        if (IsExecutable(beside))
            return beside;
    }
#ifdef PICTOVA_METAFILE_HELPER_FALLBACK
    return PICTOVA_METAFILE_HELPER_FALLBACK;
#else
    return "pictova-metafile";
#endif
}

std::chrono::milliseconds SetMetafileHelperTimeout(std::chrono::milliseconds timeout)
{
    return std::chrono::milliseconds(g_timeoutMs.exchange(timeout.count()));
}

TRaster RenderWmfInHelper(std::string_view bytes)
{
    const std::string helper = MetafileHelperPath();
    if (!IsExecutable(helper))
        throw EPictureError("WMF renderer not found: " + helper);

    // stdin is a socket so that writing to a helper that died fails with EPIPE (MSG_NOSIGNAL)
    // instead of raising SIGPIPE in the converter.
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        throw EPictureError(std::string("cannot start the WMF renderer: ") + std::strerror(errno));
    TFd inParent(sockets[0]);
    TFd inChild(sockets[1]);
    int outPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0)
        throw EPictureError(std::string("cannot start the WMF renderer: ") + std::strerror(errno));
    TFd outParent(outPipe[0]);
    TFd outChild(outPipe[1]);
    int errPipe[2];
    if (::pipe2(errPipe, O_CLOEXEC) != 0)
        throw EPictureError(std::string("cannot start the WMF renderer: ") + std::strerror(errno));
    TFd errParent(errPipe[0]);
    TFd errChild(errPipe[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inChild.Get(), 0);
    posix_spawn_file_actions_adddup2(&actions, outChild.Get(), 1);
    posix_spawn_file_actions_adddup2(&actions, errChild.Get(), 2);
    std::vector<std::string> env = HelperEnvironment();
    std::vector<char*> envp;
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string arg0 = helper;
    std::string parentId = std::to_string(::getpid()); // the helper ends with us
    char* argv[] = {arg0.data(), parentId.data(), nullptr};
    // A process group of its own: Ctrl+C at the terminal goes to the converter's group only, so
    // the converter decides (cancel at its next check point), not a helper killed mid-picture.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, helper.c_str(), &actions, &attributes, argv, envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw EPictureError(std::string("cannot start the WMF renderer: ") + std::strerror(spawned));
    TChild child(pid);
    inChild.Close();
    outChild.Close();
    errChild.Close();
    for (int fd : {inParent.Get(), outParent.Get(), errParent.Get()})
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);

    const long long deadline = NowMs() + g_timeoutMs.load();
    std::size_t written = 0;
    if (bytes.empty())
        inParent.Close();
    std::string header;
    TRaster raster;
    std::size_t expected = 0; // pixel bytes announced by the header
    std::size_t received = 0;
    std::string errorText;
    bool badOutput = false;
    bool timedOut = false;
    std::vector<char> buffer(1 << 16);

    while (outParent.Get() >= 0 || errParent.Get() >= 0)
    {
        const long long left = deadline - NowMs();
        if (left <= 0)
        {
            timedOut = true;
            break;
        }
        pollfd fds[3] = {{inParent.Get(), POLLOUT, 0},
                         {outParent.Get(), POLLIN, 0},
                         {errParent.Get(), POLLIN, 0}};
        const int ready = ::poll(fds, 3, static_cast<int>(std::min<long long>(left, 1000)));
        if (ready < 0)
        {
            if (errno == EINTR)
                continue;
            throw EPictureError(std::string("WMF renderer: ") + std::strerror(errno));
        }
        if (inParent.Get() >= 0 && (fds[0].revents & (POLLOUT | POLLERR | POLLHUP)) != 0)
        {
            const ssize_t n = ::send(inParent.Get(), bytes.data() + written,
                                     std::min<std::size_t>(bytes.size() - written, 1 << 16),
                                     MSG_NOSIGNAL);
            if (n > 0)
                written += static_cast<std::size_t>(n);
            // A helper that stops reading early (bad file, crash) is judged by its exit.
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == bytes.size())
                inParent.Close();
        }
        if (errParent.Get() >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
        {
            const ssize_t n = ::read(errParent.Get(), buffer.data(), buffer.size());
            if (n > 0 && errorText.size() < kMaxErrorText)
                errorText.append(buffer.data(), static_cast<std::size_t>(n));
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                errParent.Close();
        }
        if (outParent.Get() >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
        {
            const ssize_t n = ::read(outParent.Get(), buffer.data(), buffer.size());
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            {
                outParent.Close();
                continue;
            }
            if (n < 0)
                continue;
            std::size_t used = 0;
            const auto count = static_cast<std::size_t>(n);
            if (header.size() < kHeaderBytes)
            {
                used = std::min(kHeaderBytes - header.size(), count);
                header.append(buffer.data(), used);
                if (header.size() == kHeaderBytes)
                {
                    const std::uint32_t width = ReadLe32(header, 0);
                    const std::uint32_t height = ReadLe32(header, 4);
                    const std::uint32_t channels = ReadLe32(header, 8);
                    if (channels != 3 && channels != 4)
                    {
                        badOutput = true;
                        break;
                    }
                    // The helper's word is not trusted: the limits hold before allocating.
                    raster = NewRaster(width, height, static_cast<int>(channels));
                    expected = raster.Pixels.size();
                }
            }
            if (used < count)
            {
                if (received + (count - used) > expected)
                {
                    badOutput = true;
                    break;
                }
                std::memcpy(raster.Pixels.data() + received, buffer.data() + used, count - used);
                received += count - used;
            }
        }
    }
    inParent.Close();
    outParent.Close();
    errParent.Close();
    const int status = child.Finish(timedOut || badOutput);
    if (timedOut)
        throw EPictureError("WMF renderer timed out");
    if (WIFSIGNALED(status) && !badOutput)
        throw EPictureError("WMF renderer crashed (" + SignalName(WTERMSIG(status)) + ")");
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
    {
        const std::string line = FirstLine(errorText);
        throw EPictureError(line.empty() ? "WMF renderer failed (exit status " +
                                               std::to_string(WEXITSTATUS(status)) + ")"
                                         : line);
    }
    if (badOutput || header.size() < kHeaderBytes || received != expected)
        throw EPictureError("WMF renderer gave incomplete output");
    return raster;
}

std::unique_ptr<IPictureReader> NewWmfReader()
{
    return std::make_unique<TWmfReader>();
}
