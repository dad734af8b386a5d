#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/FileDescriptor.h"

class TStream;

// Bytes set aside on disk while a document is made, so that memory stays flat however many
// pages it has: a file in $TMPDIR (else /tmp) that has no name from the moment it exists, so
// the system deletes it when it is closed and nothing is left behind, whatever ends the
// process (a kill included). Where the file system cannot make a nameless file, a named one is
// made and unlinked at once.
class TSpoolFile
{
public:
    // Throws EFileError "Cannot create a temporary file in \"<folder>\": <reason>".
    TSpoolFile();
    // For tests: the folder to use, and whether to skip the nameless kind.
    TSpoolFile(const std::string& folder, bool named);
    ~TSpoolFile();
    TSpoolFile(const TSpoolFile&) = delete;
    TSpoolFile& operator=(const TSpoolFile&) = delete;

    // Appends the bytes and returns where they begin. Throws EFileError on a failing write (a
    // full disk); the spool is then as it was.
    std::int64_t Append(const void* data, std::size_t size);
    // Writes length bytes from offset to the stream. Throws EFileError when they cannot be read.
    void CopyTo(std::int64_t offset, std::int64_t length, TStream& out) const;

    std::int64_t Size() const { return m_size; }
    const std::string& Folder() const { return m_folder; }

private:
    std::string m_folder;
    TFileDescriptor m_fd;
    std::int64_t m_size = 0;
};

// The folder temporary files go to: $TMPDIR when it is set and not empty, else /tmp.
std::string TemporaryFolder();
