#include "app/imaging/MetafileRenderer.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/ByteOrder.h"
#include "platform/FileDescriptor.h"

extern char** environ;

namespace
{

// A sanitizer's runtime reserves terabytes of address space, so an address-space limit would
// stop a sanitized helper before it starts; such builds bound its memory through the
// sanitizer's own resident-size limit instead.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizedHelper = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitizedHelper = true;
#else
constexpr bool kSanitizedHelper = false;
#endif
#else
constexpr bool kSanitizedHelper = false;
#endif

std::mutex g_limitsMutex;
TMetafileLimits g_limits;

TMetafileLimits CurrentLimits()
{
    const std::lock_guard<std::mutex> lock(g_limitsMutex);
    return g_limits;
}

// How much of the end of what the helper writes to stderr is kept for the reason.
constexpr std::size_t kMaxErrorText = 4096;
constexpr std::size_t kHeaderBytes = 12;

bool IsExecutable(const std::string& path)
{
    struct stat info
    {
    };
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The environment for the helper: ours, with leak checking off under the address sanitizer
// (the libraries' allocations live until the process ends, which is at once) and, there, the
// memory limit as the sanitizer's own.
std::vector<std::string> HelperEnvironment(const TMetafileLimits& limits)
{
    std::string asan = "detect_leaks=0";
    if (kSanitizedHelper)
        asan += ":hard_rss_limit_mb=" + std::to_string(limits.MemoryBytes >> 20);
    std::vector<std::string> env;
    bool hadAsan = false;
    for (char** p = environ; p != nullptr && *p != nullptr; ++p)
    {
        std::string entry(*p);
        if (entry.rfind("ASAN_OPTIONS=", 0) == 0)
        {
            entry += ":" + asan;
            hadAsan = true;
        }
        env.push_back(std::move(entry));
    }
    if (!hadAsan)
        env.push_back("ASAN_OPTIONS=" + asan);
    return env;
}

// Applied before the helper reads the first byte of the file, so no byte of it is ever
// handled without them. At the soft processor-time limit the kernel sends SIGXCPU, a second
// later SIGKILL. No core files: a crash on a hostile file must not leave one behind.
bool LimitHelper(pid_t pid, const TMetafileLimits& limits)
{
    const auto cpu = static_cast<rlim_t>(std::max<long long>(1, limits.CpuTime.count()));
    const rlimit cpuLimit{cpu, cpu + 1};
    const rlimit noCore{0, 0};
    if (::prlimit(pid, RLIMIT_CPU, &cpuLimit, nullptr) != 0 ||
        ::prlimit(pid, RLIMIT_CORE, &noCore, nullptr) != 0)
        return false;
    if (!kSanitizedHelper)
    {
        const rlimit memory{static_cast<rlim_t>(limits.MemoryBytes),
                            static_cast<rlim_t>(limits.MemoryBytes)};
        if (::prlimit(pid, RLIMIT_AS, &memory, nullptr) != 0)
            return false;
    }
    return true;
}

std::string SignalText(int signal)
{
    switch (signal)
    {
    case SIGSEGV:
        return "segmentation fault";
    case SIGABRT:
        return "aborted";
    case SIGBUS:
        return "bus error";
    case SIGFPE:
        return "arithmetic error";
    case SIGILL:
        return "illegal instruction";
    case SIGKILL:
        return "killed";
    default:
        return "signal " + std::to_string(signal);
    }
}

std::string Seconds(long long milliseconds)
{
    if (milliseconds % 1000 == 0)
        return std::to_string(milliseconds / 1000) + " s";
    const long long tenths = (milliseconds + 50) / 100;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
}

// Whether what the helper printed before it died says an allocation failed.
bool RanOutOfMemory(const std::string& errorText)
{
    for (const char* sign :
         {"bad_alloc", "failed to allocate", "out of memory", "Cannot allocate memory",
          "hard rss limit exhausted", "allocation-size-too-big"})
        if (errorText.find(sign) != std::string::npos)
            return true;
    return false;
}

// Waits for the child; kills its process group first when asked. Returns the wait status.
int Reap(pid_t pid, bool kill)
{
    if (kill)
    {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
    }
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

// The helper's reason is the last line it printed: libraries may print before it.
std::string LastLine(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text.substr(text.rfind('\n') + 1);
}

// posix_spawn's file actions and attributes, destroyed however the start ends. Their calls
// fail only for want of memory; the error number is thrown (as an int) for the caller to word.
class TSpawnActions
{
public:
    TSpawnActions()
    {
        if (const int error = posix_spawn_file_actions_init(&m_actions); error != 0)
            throw std::system_error(error, std::generic_category());
    }
    ~TSpawnActions() { posix_spawn_file_actions_destroy(&m_actions); }
    TSpawnActions(const TSpawnActions&) = delete;
    TSpawnActions& operator=(const TSpawnActions&) = delete;
    posix_spawn_file_actions_t* Get() { return &m_actions; }
    // A helper started without its pipes would read and write the converter's own streams.
    void Dup2(int fd, int target)
    {
        if (const int error = posix_spawn_file_actions_adddup2(&m_actions, fd, target); error != 0)
            throw std::system_error(error, std::generic_category());
    }

private:
    posix_spawn_file_actions_t m_actions{};
};

class TSpawnAttributes
{
public:
    TSpawnAttributes()
    {
        if (const int error = posix_spawnattr_init(&m_attributes); error != 0)
            throw std::system_error(error, std::generic_category());
    }
    ~TSpawnAttributes() { posix_spawnattr_destroy(&m_attributes); }
    TSpawnAttributes(const TSpawnAttributes&) = delete;
    TSpawnAttributes& operator=(const TSpawnAttributes&) = delete;
    posix_spawnattr_t* Get() { return &m_attributes; }

private:
    posix_spawnattr_t m_attributes{};
};

} // namespace

TMetafileLimits SetMetafileLimits(const TMetafileLimits& limits)
{
    const std::lock_guard<std::mutex> lock(g_limitsMutex);
    return std::exchange(g_limits, limits);
}

std::string MetafileHelperPath()
{
    if (const char* env = std::getenv("PICTOVA_METAFILE_HELPER"); env != nullptr && *env != '\0')
        return env;
    std::string self(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", self.data(), self.size());
    if (n > 0 && static_cast<std::size_t>(n) < self.size())
    {
        self.resize(static_cast<std::size_t>(n));
        const std::string folder = self.substr(0, self.rfind('/') + 1);
        // Beside the program in the build tree; in lib/pictova when installed (bin/..).
        for (const char* relative : {"pictova-metafile", "../lib/pictova/pictova-metafile"})
            if (std::string candidate = folder + relative; IsExecutable(candidate))
                return candidate;
    }
#ifdef PICTOVA_METAFILE_HELPER_FALLBACK
    return PICTOVA_METAFILE_HELPER_FALLBACK;
#else
    return "pictova-metafile";
#endif
}

TRaster RenderMetafileInHelper(TMetafileKind kind, std::string_view bytes)
{
    const std::string name = kind == mkWmf ? "WMF" : "EMF";
    const std::string renderer = name + " renderer";
    const TMetafileLimits limits = CurrentLimits();
    const std::string helper = MetafileHelperPath();
    if (!IsExecutable(helper))
        throw EPictureError(renderer + " not found: " + helper);
    const auto startFailed = [&](int error) {
        return EPictureError("cannot start the " + renderer + ": " + std::strerror(error));
    };

    // stdin is a socket so that writing to a helper that died fails with EPIPE (MSG_NOSIGNAL)
    // instead of raising SIGPIPE in the converter.
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        throw startFailed(errno);
    TFileDescriptor inParent(sockets[0]);
    TFileDescriptor inChild(sockets[1]);
    int outPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0)
        throw startFailed(errno);
    TFileDescriptor outParent(outPipe[0]);
    TFileDescriptor outChild(outPipe[1]);
    int errPipe[2];
    if (::pipe2(errPipe, O_CLOEXEC) != 0)
        throw startFailed(errno);
    TFileDescriptor errParent(errPipe[0]);
    TFileDescriptor errChild(errPipe[1]);

    std::vector<std::string> env = HelperEnvironment(limits);
    std::vector<char*> envp;
    envp.reserve(env.size() + 1);
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string arg0 = helper;
    std::string kindArg = kind == mkWmf ? "wmf" : "emf";
    std::string parentId = std::to_string(::getpid()); // the helper ends with us
    std::string maxPixels = std::to_string(limits.Pixels);
    char* argv[] = {arg0.data(), kindArg.data(), parentId.data(), maxPixels.data(), nullptr};
    // A process group of its own: Ctrl+C at the terminal goes to the converter's group only, so
    // the converter decides (cancel at its next check point), not a helper killed mid-picture;
    // and a kill reaches whatever the helper started.
    pid_t pid = -1;
    int spawned = 0;
    try
    {
        TSpawnActions actions;
        actions.Dup2(inChild.Get(), 0);
        actions.Dup2(outChild.Get(), 1);
        actions.Dup2(errChild.Get(), 2);
        TSpawnAttributes attributes;
        posix_spawnattr_setflags(attributes.Get(), POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(attributes.Get(), 0);
        spawned =
            ::posix_spawn(&pid, helper.c_str(), actions.Get(), attributes.Get(), argv, envp.data());
    }
    catch (const std::system_error& e)
    {
        throw startFailed(e.code().value());
    }
    if (spawned != 0)
        throw startFailed(spawned);
    TChild child(pid);
    inChild.Close();
    outChild.Close();
    errChild.Close();
    if (!LimitHelper(pid, limits))
        throw EPictureError("cannot limit the " + renderer + ": " + std::strerror(errno));
    for (int fd : {inParent.Get(), outParent.Get(), errParent.Get()})
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);

    const long long deadline = NowMs() + limits.WallTime.count();
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
            throw EPictureError(renderer + ": " + std::strerror(errno));
        }
        if (inParent.Get() >= 0 && (fds[0].revents & (POLLOUT | POLLERR | POLLHUP)) != 0)
        {
            const ssize_t n =
                ::send(inParent.Get(), bytes.data() + written,
                       std::min<std::size_t>(bytes.size() - written, 1 << 16), MSG_NOSIGNAL);
            if (n > 0)
                written += static_cast<std::size_t>(n);
            // A helper that stops reading early (bad file, crash) is judged by its exit.
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == bytes.size())
                inParent.Close();
        }
        if (errParent.Get() >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
        {
            const ssize_t n = ::read(errParent.Get(), buffer.data(), buffer.size());
            if (n > 0)
            {
                errorText.append(buffer.data(), static_cast<std::size_t>(n));
                if (errorText.size() > 2 * kMaxErrorText)
                    errorText.erase(0, errorText.size() - kMaxErrorText);
            }
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
                    CheckPictureSize(width, height, limits.Pixels);
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
        throw EPictureError(renderer + " timed out after " + Seconds(limits.WallTime.count()));
    if (WIFSIGNALED(status) && !badOutput)
    {
        const int signal = WTERMSIG(status);
        if (signal == SIGXCPU)
            throw EPictureError(renderer + " used more than " +
                                std::to_string(std::max<long long>(1, limits.CpuTime.count())) +
                                " s of processor time");
        if (RanOutOfMemory(errorText))
            throw EPictureError(renderer + " ran out of memory (limit " +
                                std::to_string(limits.MemoryBytes >> 20) + " MB)");
        throw EPictureError(renderer + " crashed (" + SignalText(signal) + ")");
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
    {
        const std::string line = LastLine(errorText);
        if (line.empty())
            throw EPictureError(renderer + " failed (exit status " +
                                std::to_string(WEXITSTATUS(status)) + ")");
        if (kSanitizedHelper && RanOutOfMemory(errorText))
            throw EPictureError(renderer + " ran out of memory (limit " +
                                std::to_string(limits.MemoryBytes >> 20) + " MB)");
        throw EPictureError(line);
    }
    if (badOutput || header.size() < kHeaderBytes || received != expected)
        throw EPictureError(renderer + " gave incomplete output");
    return raster;
}
