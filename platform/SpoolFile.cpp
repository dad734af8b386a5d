#include "platform/SpoolFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "platform/Exceptions.h"
#include "platform/Stream.h"
#include "platform/TemporaryFile.h"

namespace
{

constexpr std::size_t kCopyChunk = 1 << 20;

[[noreturn]] void ThrowCreateError(const std::string& folder, int error)
{
    throw EFileError("Cannot create a temporary file in \"" + folder +
                     "\": " + std::strerror(error));
}

} // namespace

std::string TemporaryFolder()
{
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

TSpoolFile::TSpoolFile() : TSpoolFile(TemporaryFolder(), false) {}

TSpoolFile::TSpoolFile(const std::string& folder, bool named) : m_folder(folder)
{
    if (!named)
        m_fd.Reset(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (m_fd.Get() >= 0)
        return;
    if (!named && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        ThrowCreateError(folder, errno);
    // A named file, removed at once; it is recorded for the signal handlers meanwhile.
    TTemporaryFile temporary;
    m_fd.Reset(temporary.Create(folder + "/.pictova-spool-XXXXXX", 0));
    if (m_fd.Get() < 0)
        ThrowCreateError(folder, errno);
    temporary.Remove();
    // Not for the helper programs the converter starts.
    ::fcntl(m_fd.Get(), F_SETFD, FD_CLOEXEC);
}

TSpoolFile::~TSpoolFile() = default;

std::int64_t TSpoolFile::Append(const void* data, std::size_t size)
{
    const std::int64_t start = m_size;
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size)
    {
        const ssize_t n = ::pwrite(m_fd.Get(), bytes + done, size - done,
                                   static_cast<off_t>(start) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
        {
            const int error = n < 0 ? errno : ENOSPC;
            // What was written of these bytes stays unused; the size still ends before them.
            throw EFileError("Cannot write a temporary file in \"" + m_folder +
                             "\": " + std::strerror(error));
        }
        done += static_cast<std::size_t>(n);
    }
    m_size += static_cast<std::int64_t>(size);
    return start;
}

void TSpoolFile::CopyTo(std::int64_t offset, std::int64_t length, TStream& out) const
{
    std::vector<char> chunk(static_cast<std::size_t>(
        std::min<std::int64_t>(length, static_cast<std::int64_t>(kCopyChunk))));
    while (length > 0)
    {
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::int64_t>(length, static_cast<std::int64_t>(chunk.size())));
        const ssize_t n = ::pread(m_fd.Get(), chunk.data(), want, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw EFileError("Cannot read a temporary file in \"" + m_folder +
                             "\": " + std::strerror(n < 0 ? errno : EIO));
        out.Write(chunk.data(), static_cast<std::size_t>(n));
        offset += n;
        length -= n;
    }
}
