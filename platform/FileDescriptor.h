#pragma once

#include <unistd.h>

// Owns an open file descriptor (or none, -1) and closes it.
class TFileDescriptor
{
public:
    TFileDescriptor() = default;
    explicit TFileDescriptor(int fd) : m_fd(fd) {}
    ~TFileDescriptor() { Close(); }
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;

    int Get() const { return m_fd; }
    // Closes the one held and takes fd.
    void Reset(int fd)
    {
        Close();
        m_fd = fd;
    }
    void Close()
    {
        if (m_fd >= 0)
        {
            ::close(m_fd);
        }
        m_fd = -1;
    }

private:
    int m_fd = -1;
};
