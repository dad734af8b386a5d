#pragma once

#include <string>

// Temporary files that a signal handler may have to remove: when the process is ended at once
// (a second Ctrl+C while a document is being written), nothing else would delete them. Up to
// kMaxPendingTemporaryFiles are recorded at a time, from any thread; a file beyond that, or one
// whose path is longer than PATH_MAX, is still made but a signal cannot remove it.

inline constexpr int kMaxPendingTemporaryFiles = 16;

// Owns a temporary file from its creation until it is kept (renamed into place) or removed;
// the destructor removes a file still pending.
class TTemporaryFile
{
public:
    TTemporaryFile() = default;
    ~TTemporaryFile() { Remove(); }
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;

    // mkstemps(pathTemplate, suffixLength): a new file, mode 0600, open for reading and
    // writing, recorded as pending with no moment in which a signal on this thread could find
    // it made but unrecorded. Removes a file this object held before. Returns the descriptor
    // (the caller closes it), or -1 with errno set.
    int Create(std::string pathTemplate, int suffixLength);
    // Create beside target, in its folder (so that a rename over it stays on one file system):
    // ".<name>.XXXXXX<suffix>", the name cut to its first 200 bytes so that the dot and the
    // suffix do not push a valid name past the file system's 255-byte limit.
    int CreateBeside(const std::string& target, const std::string& suffix);

    // The path mkstemps chose; empty before Create.
    const std::string& Path() const { return m_path; }
    bool Pending() const { return !m_path.empty(); }

    // The file was renamed into place (or handed to someone else): its path is no longer ours,
    // so neither a signal nor this object touches it again.
    void Keep() noexcept;
    // Deletes a pending file and forgets it.
    void Remove() noexcept;

private:
    std::string m_path;
    int m_slot = -1; // where a signal handler finds the path; -1 when not recorded
};

// Makes a rename into path's folder durable (fsync of the folder). Best effort: the file is in
// place whatever this finds.
void SyncFolderOf(const std::string& path);

// Deletes every pending temporary file. Async-signal-safe: meant for a handler that then
// _exits.
void RemovePendingTemporaryFiles();
