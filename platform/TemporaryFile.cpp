#include "platform/TemporaryFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace
{

// The path is written only while no handler reads it (the flag is clear), and handlers read it
// only after the flag is set: a fixed buffer and a lock-free flag, both safe in a handler.
char g_pendingPath[PATH_MAX];
std::atomic<int> g_pending{0};
static_assert(std::atomic<int>::is_always_lock_free);

} // namespace

int CreateTemporaryFile(std::string& pathTemplate, int suffixLength)
{
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    g_pending.store(0, std::memory_order_release);
    const int fd = ::mkstemps(pathTemplate.data(), suffixLength);
    const int error = errno;
    // A path too long to record still makes a usable file; only a signal cannot clean it up.
    if (fd >= 0 && pathTemplate.size() < sizeof g_pendingPath)
    {
        std::memcpy(g_pendingPath, pathTemplate.c_str(), pathTemplate.size() + 1);
        g_pending.store(1, std::memory_order_release);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return fd;
}

void ForgetTemporaryFile()
{
    g_pending.store(0, std::memory_order_release);
}

void RemovePendingTemporaryFile()
{
    if (g_pending.load(std::memory_order_acquire) == 0)
        return;
    const int error = errno;
    ::unlink(g_pendingPath);
    errno = error;
}
