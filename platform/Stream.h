#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A byte stream with a position. All sizes and positions are 64-bit.
class TStream
{
public:
    virtual ~TStream() = default;
    // Reads up to size bytes at the position; returns how many were read (0 at the end).
    virtual std::size_t Read(void* data, std::size_t size) = 0;
    // Writes all size bytes at the position or throws; a short write is a failure.
    virtual void Write(const void* data, std::size_t size) = 0;
    virtual std::int64_t Position() const = 0;
    virtual void SetPosition(std::int64_t position) = 0;
    virtual std::int64_t Size() const = 0;
    // Cuts the stream to size bytes, or extends it with zero bytes; the position stays.
    virtual void SetSize(std::int64_t size) = 0;

    void Write(std::string_view bytes) { Write(bytes.data(), bytes.size()); }
    // Copies everything from source's start to this stream's position.
    void CopyFrom(TStream& source);
};

// A growable in-memory byte buffer.
class TMemoryStream : public TStream
{
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string bytes) : m_bytes(std::move(bytes)) {}

    // TStream:
    std::size_t Read(void* data, std::size_t size) override;
    void Write(const void* data, std::size_t size) override;
    std::int64_t Position() const override { return m_position; }
    void SetPosition(std::int64_t position) override;
    std::int64_t Size() const override { return static_cast<std::int64_t>(m_bytes.size()); }
    void SetSize(std::int64_t size) override;
    using TStream::Write;

    const std::string& Bytes() const { return m_bytes; }
    void Clear();
    // Hands the bytes over without copying them; the stream is left empty at position 0.
    std::string TakeBytes();

private:
    std::string m_bytes;
    std::int64_t m_position = 0;
};

// A buffered file stream. Errors throw EFileError. Close() flushes, fsyncs and reports every
// failure, which a destructor cannot: call it before trusting the file.
class TFileStream : public TStream
{
public:
    enum class Mode
    {
        Read,   // an existing file
        Create, // created or truncated, mode 0666 & ~umask
    };
    TFileStream(const std::string& path, Mode mode);
    // Takes over an open descriptor (for example from mkstemp); the stream closes it.
    TFileStream(int fd, std::string path);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    // TStream:
    std::size_t Read(void* data, std::size_t size) override;
    void Write(const void* data, std::size_t size) override;
    std::int64_t Position() const override;
    void SetPosition(std::int64_t position) override;
    std::int64_t Size() const override;
    void SetSize(std::int64_t size) override;
    using TStream::Write;

    void Close();
    // Drops pending writes and closes without syncing: for a file that is being thrown away.
    void Abandon() noexcept;
    const std::string& Path() const { return m_path; }

private:
    void Flush();
    // Writes the bytes at the descriptor's offset; throws on failure.
    void WriteOut(const char* data, std::size_t size);
    void DropReadAhead();

    int m_fd = -1;
    std::string m_path;
    std::string m_buffer; // pending writes
    std::int64_t m_position = 0;
    // Bytes read ahead from the descriptor: they stand for the file from m_readStart on, and
    // the descriptor's offset is at m_readStart + m_readBuffer.size().
    std::string m_readBuffer;
    std::int64_t m_readStart = 0;
    bool m_written = false;     // Close() syncs only what this stream wrote
    std::size_t m_unsynced = 0; // bytes written since writing out was last started
};
