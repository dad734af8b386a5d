#include "platform/TemporaryFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include "platform/FileDescriptor.h"

namespace
{

// A slot's path is written only while the slot is claimed and read by a handler only once it
// is pending: fixed buffers and lock-free states, both safe in a handler.
enum TSlotState : int
{
    ssFree,
    ssClaimed, // being filled in; a handler passes over it
    ssPending,
};

struct TPendingSlot
{
    std::atomic<int> State{ssFree};
    char Path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free);

TPendingSlot g_slots[kMaxPendingTemporaryFiles];

int ClaimSlot()
{
    for (int i = 0; i < kMaxPendingTemporaryFiles; ++i)
    {
        int expected = ssFree;
        if (g_slots[i].State.compare_exchange_strong(expected, ssClaimed,
                                                     std::memory_order_acquire))
        {
            return i;
        }
    }
    return -1;
}

} // namespace

int TTemporaryFile::Create(std::string pathTemplate, int suffixLength)
{
    Remove();
    // No signal on this thread between making the file and recording it.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    int slot = ClaimSlot();
    const int fd = ::mkstemps(pathTemplate.data(), suffixLength);
    const int error = errno;
    if (slot >= 0)
    {
        TPendingSlot& pending = g_slots[slot];
        if (fd >= 0 && pathTemplate.size() < sizeof pending.Path)
        {
            std::memcpy(pending.Path, pathTemplate.c_str(), pathTemplate.size() + 1);
            pending.State.store(ssPending, std::memory_order_release);
        }
        else
        {
            pending.State.store(ssFree, std::memory_order_release);
            slot = -1;
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (fd >= 0)
    {
        m_path = std::move(pathTemplate);
        m_slot = slot;
    }
    errno = error;
    return fd;
}

void TTemporaryFile::Keep() noexcept
{
    if (m_slot >= 0)
    {
        g_slots[m_slot].State.store(ssFree, std::memory_order_release);
    }
    m_slot = -1;
    m_path.clear();
}

void TTemporaryFile::Remove() noexcept
{
    if (m_path.empty())
    {
        return;
    }
    // Unlinked before it is forgotten: a signal in between unlinks it once more, harmlessly.
    ::unlink(m_path.c_str());
    Keep();
}

void RemovePendingTemporaryFiles()
{
    const int error = errno;
    for (TPendingSlot& slot : g_slots)
    {
        if (slot.State.load(std::memory_order_acquire) == ssPending)
        {
            ::unlink(slot.Path);
        }
    }
    errno = error;
}

int TTemporaryFile::CreateBeside(const std::string& target, const std::string& suffix)
{
    constexpr std::size_t kMaxNameInTemporary = 200;
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    return Create(folder + "." + name.substr(0, kMaxNameInTemporary) + ".XXXXXX" + suffix,
                  static_cast<int>(suffix.size()));
}

void SyncFolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const TFileDescriptor folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.Get() >= 0)
        ::fsync(folderFd.Get());
}
