#pragma once

#include <memory>
#include <string>

#include <sys/types.h>

#include "platform/Stream.h"
#include "platform/TemporaryFile.h"

// Writes a file that appears whole or not at all. The bytes go to a temporary file beside the
// target (".<name>.XXXXXX.tmp", so the final rename stays within one file system); Commit()
// flushes and syncs it, renames it over the target and syncs the folder. Until then the target
// is untouched. On every failure, on Cancel() and on destruction without Commit() the temporary
// file is removed, and a signal handler can remove it too (RemovePendingTemporaryFiles).
//
// The new file gets the permission bits of the regular file it replaces, else 0666 less the
// umask, as any new file would. A symbolic link at the target is replaced, not followed.
//
// Failures throw EFileError naming the target: "Cannot create file \"<target>\": <reason>"
// when the temporary file cannot be made, "Cannot write file \"<target>\": <reason>" when
// writing, syncing or the rename fails.
class TSaveFile
{
public:
    // Makes the temporary file.
    explicit TSaveFile(std::string fileName);
    // Cancels unless committed.
    ~TSaveFile();
    TSaveFile(const TSaveFile&) = delete;
    TSaveFile& operator=(const TSaveFile&) = delete;

    // Where the bytes go, buffered; writing after Commit or Cancel throws.
    TStream& Stream() { return *m_stream; }
    // Puts the file in place. Throws EInvalidOperation after Commit or Cancel.
    void Commit();
    // Removes the temporary file; the target stays as it was.
    void Cancel() noexcept;

    const std::string& FileName() const { return m_fileName; }

private:
    std::string m_fileName;
    TTemporaryFile m_temporary;
    std::unique_ptr<TFileStream> m_stream;
};

// The permission bits a file written at target gets: those of the regular file it replaces,
// else 0666 less the umask, as any new file would.
mode_t NewFileMode(const std::string& target);

// Whether a TSaveFile could put a file at fileName: it is no folder, and its folder takes new
// files and lets the old one be renamed over (a folder with the sticky bit lets only the
// owners do that). Nothing is written; the old file is not touched.
bool CanReplaceFile(const std::string& fileName);
