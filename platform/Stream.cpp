#include "platform/Stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Exceptions.h"

namespace
{

constexpr std::size_t kBufferSize = std::size_t{64} * 1024;
// Written bytes between two requests to start writing them out.
constexpr std::size_t kWritebackBytes = std::size_t{4} << 20;

std::string Quoted(const std::string& path)
{
    return "\"" + path + "\"";
}

[[noreturn]] void ThrowWriteError(const std::string& path, int error)
{
    ThrowFileError("Cannot write file", path, error);
}

[[noreturn]] void ThrowReadError(const std::string& path, const std::string& reason)
{
    throw EFileError("Cannot read file " + Quoted(path) + ": " + reason);
}

} // namespace

void TStream::CopyFrom(TStream& source)
{
    source.SetPosition(0);
    std::vector<char> chunk(kBufferSize);
    for (;;)
    {
        const std::size_t got = source.Read(chunk.data(), chunk.size());
        if (got == 0)
        {
            break;
        }
        Write(chunk.data(), got);
    }
}

// TMemoryStream

std::size_t TMemoryStream::Read(void* data, std::size_t size)
{
    const auto length = static_cast<std::int64_t>(m_bytes.size());
    if (m_position >= length || size == 0)
    {
        return 0;
    }
    const std::size_t count = std::min(size, static_cast<std::size_t>(length - m_position));
    std::memcpy(data, m_bytes.data() + m_position, count);
    m_position += static_cast<std::int64_t>(count);
    return count;
}

void TMemoryStream::Write(const void* data, std::size_t size)
{
    if (size == 0)
    {
        return;
    }
    const auto position = static_cast<std::size_t>(m_position);
    // A position beyond the end (set for writing) leaves zero bytes in between.
    if (position + size > m_bytes.size())
    {
        m_bytes.resize(position + size, '\0');
    }
    std::memcpy(m_bytes.data() + position, data, size);
    m_position += static_cast<std::int64_t>(size);
}

void TMemoryStream::SetPosition(std::int64_t position)
{
    if (position < 0)
    {
        throw Exception("Stream position must not be negative");
    }
    m_position = position;
}

void TMemoryStream::SetSize(std::int64_t size)
{
    if (size < 0)
    {
        throw Exception("Stream size must not be negative");
    }
    m_bytes.resize(static_cast<std::size_t>(size), '\0');
}

void TMemoryStream::Clear()
{
    m_bytes.clear();
    m_bytes.shrink_to_fit();
    m_position = 0;
}

std::string TMemoryStream::TakeBytes()
{
    std::string bytes = std::move(m_bytes);
    m_bytes = std::string();
    m_position = 0;
    return bytes;
}

// TFileStream

TFileStream::TFileStream(const std::string& path, Mode mode) : m_path(path)
{
    if (mode == Mode::Read)
    {
        m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0)
        {
            ThrowReadError(path, std::strerror(errno));
        }
    }
    else
    {
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (m_fd < 0)
        {
            throw EFileError("Cannot create file " + Quoted(path) + ": " + std::strerror(errno));
        }
    }
}

TFileStream::TFileStream(int fd, std::string path) : m_fd(fd), m_path(std::move(path))
{
    // A pipe has no offset; it is then written from "position 0" on.
    const off_t offset = ::lseek(m_fd, 0, SEEK_CUR);
    m_position = offset > 0 ? offset : 0;
}

TFileStream::~TFileStream()
{
    if (m_fd < 0)
    {
        return;
    }
    // Best effort only: a destructor cannot report a failure; Close() is the checked path.
    try
    {
        Flush();
    }
    catch (const EFileError&)
    {
    }
    ::close(m_fd);
}

std::size_t TFileStream::Read(void* data, std::size_t size)
{
    Flush();
    if (size == 0)
    {
        return 0;
    }
    const auto bufferEnd = m_readStart + static_cast<std::int64_t>(m_readBuffer.size());
    if (!m_readBuffer.empty() && m_position >= m_readStart && m_position < bufferEnd)
    {
        const auto offset = static_cast<std::size_t>(m_position - m_readStart);
        const std::size_t count = std::min(size, m_readBuffer.size() - offset);
        std::memcpy(data, m_readBuffer.data() + offset, count);
        m_position += static_cast<std::int64_t>(count);
        return count;
    }
    DropReadAhead();

    auto readSome = [this](char* target, std::size_t wanted) {
        for (;;)
        {
            const ssize_t got = ::read(m_fd, target, wanted);
            if (got >= 0)
            {
                return static_cast<std::size_t>(got);
            }
            if (errno != EINTR)
            {
                ThrowReadError(m_path, std::strerror(errno));
            }
        }
    };

    if (size >= kBufferSize)
    {
        const std::size_t got = readSome(static_cast<char*>(data), size);
        m_position += static_cast<std::int64_t>(got);
        return got;
    }
    m_readBuffer.resize(kBufferSize);
    const std::size_t got = readSome(m_readBuffer.data(), kBufferSize);
    m_readBuffer.resize(got);
    m_readStart = m_position;
    const std::size_t count = std::min(size, got);
    std::memcpy(data, m_readBuffer.data(), count);
    m_position += static_cast<std::int64_t>(count);
    return count;
}

void TFileStream::Write(const void* data, std::size_t size)
{
    DropReadAhead();
    if (size == 0)
    {
        return;
    }
    if (m_fd < 0)
    {
        ThrowWriteError(m_path, EBADF);
    }
    m_written = true;
    m_position += static_cast<std::int64_t>(size);
    if (size >= kBufferSize)
    {
        // A large block (a picture's data) goes to the file as it is, not copied through the
        // buffer first.
        Flush();
        WriteOut(static_cast<const char*>(data), size);
        return;
    }
    m_buffer.append(static_cast<const char*>(data), size);
    if (m_buffer.size() >= kBufferSize)
    {
        Flush();
    }
}

std::int64_t TFileStream::Position() const
{
    return m_position;
}

void TFileStream::SetPosition(std::int64_t position)
{
    if (position < 0)
    {
        throw EFileError("Cannot read file " + Quoted(m_path) + ": negative position");
    }
    if (position == m_position)
    {
        return;
    }
    Flush();
    const auto bufferEnd = m_readStart + static_cast<std::int64_t>(m_readBuffer.size());
    if (!m_readBuffer.empty() && position >= m_readStart && position <= bufferEnd)
    {
        m_position = position;
        return;
    }
    m_readBuffer.clear();
    if (::lseek(m_fd, position, SEEK_SET) < 0)
    {
        ThrowReadError(m_path, std::strerror(errno));
    }
    m_position = position;
}

std::int64_t TFileStream::Size() const
{
    struct stat info
    {
    };
    if (::fstat(m_fd, &info) != 0)
    {
        ThrowReadError(m_path, std::strerror(errno));
    }
    // Pending writes are not in the file yet but belong to it.
    const std::int64_t pendingEnd = m_buffer.empty() ? 0 : m_position;
    return std::max<std::int64_t>(info.st_size, pendingEnd);
}

void TFileStream::SetSize(std::int64_t size)
{
    Flush();
    DropReadAhead();
    if (size < 0 || ::ftruncate(m_fd, size) != 0)
    {
        ThrowWriteError(m_path, size < 0 ? EINVAL : errno);
    }
}

void TFileStream::Close()
{
    if (m_fd < 0)
    {
        return;
    }
    std::string error;
    try
    {
        Flush();
    }
    catch (const EFileError& e)
    {
        error = e.what();
    }
    // EINVAL and EROFS say the descriptor (a pipe, a device) has nothing to sync.
    if (error.empty() && m_written && ::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS)
    {
        error = "Cannot write file " + Quoted(m_path) + ": " + std::strerror(errno);
    }
    const int fd = m_fd;
    m_fd = -1;
    m_readBuffer.clear();
    if (::close(fd) != 0 && errno != EINTR && error.empty())
    {
        error = "Cannot write file " + Quoted(m_path) + ": " + std::strerror(errno);
    }
    if (!error.empty())
    {
        throw EFileError(error);
    }
}

void TFileStream::Abandon() noexcept
{
    if (m_fd < 0)
    {
        return;
    }
    m_buffer.clear();
    m_readBuffer.clear();
    ::close(m_fd);
    m_fd = -1;
}

void TFileStream::Flush()
{
    if (m_buffer.empty())
    {
        return;
    }
    // Whatever happens, these bytes are not written twice.
    std::string pending;
    pending.swap(m_buffer);
    WriteOut(pending.data(), pending.size());
}

void TFileStream::WriteOut(const char* next, std::size_t left)
{
    m_unsynced += left;
    while (left > 0)
    {
        const ssize_t done = ::write(m_fd, next, left);
        if (done < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            ThrowWriteError(m_path, errno);
        }
        if (done == 0)
        {
            ThrowWriteError(m_path, EIO);
        }
        next += done;
        left -= static_cast<std::size_t>(done);
    }
    // The system starts writing a large file out as it comes, so that the closing fsync has
    // little left to wait for. Only a hint: a descriptor that takes none is left as it is.
    if (m_unsynced >= kWritebackBytes)
    {
        ::sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE);
        m_unsynced = 0;
    }
}

void TFileStream::DropReadAhead()
{
    if (m_readBuffer.empty())
    {
        return;
    }
    const auto descriptorOffset = m_readStart + static_cast<std::int64_t>(m_readBuffer.size());
    m_readBuffer.clear();
    if (descriptorOffset != m_position && ::lseek(m_fd, m_position, SEEK_SET) < 0)
    {
        ThrowReadError(m_path, std::strerror(errno));
    }
}
