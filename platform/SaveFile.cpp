#include "platform/SaveFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Exceptions.h"

namespace
{

// The umask, read without changing it where the kernel tells it: setting it even for a moment
// would let a file that another thread (the GUI toolkit's, say) creates meanwhile be
// world-writable.
mode_t CurrentUmask()
{
    if (std::FILE* status = std::fopen("/proc/self/status", "re"))
    {
        char line[256];
        unsigned int mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status) != nullptr)
        {
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        }
        std::fclose(status);
        if (found)
        {
            return static_cast<mode_t>(mask & 0777);
        }
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

} // namespace

mode_t NewFileMode(const std::string& target)
{
    struct stat existing
    {
    };
    if (::lstat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
    {
        return existing.st_mode & 0777;
    }
    return 0666 & ~CurrentUmask();
}

TSaveFile::TSaveFile(std::string fileName) : m_fileName(std::move(fileName))
{
    if (m_fileName.empty())
    {
        ThrowFileError("Cannot create file", m_fileName, ENOENT);
    }
    const int fd = m_temporary.CreateBeside(m_fileName, ".tmp");
    if (fd < 0)
    {
        ThrowFileError("Cannot create file", m_fileName, errno);
    }
    // Messages of the stream name the target, not the temporary file.
    m_stream = std::make_unique<TFileStream>(fd, m_fileName);

    // mkstemps makes the file 0600; the result should look like any other new file, or keep
    // the permissions of the file it replaces.
    if (::fchmod(fd, NewFileMode(m_fileName)) != 0)
    {
        const int error = errno;
        Cancel();
        ThrowFileError("Cannot create file", m_fileName, error);
    }
}

TSaveFile::~TSaveFile()
{
    Cancel();
}

void TSaveFile::Commit()
{
    if (!m_temporary.Pending())
    {
        throw EInvalidOperation("Commit --the file is not open.");
    }
    try
    {
        m_stream->Close();
        if (::rename(m_temporary.Path().c_str(), m_fileName.c_str()) != 0)
        {
            ThrowFileError("Cannot write file", m_fileName, errno);
        }
    }
    catch (...)
    {
        Cancel();
        throw;
    }
    m_temporary.Keep();
    SyncFolderOf(m_fileName);
}

void TSaveFile::Cancel() noexcept
{
    if (m_stream != nullptr)
    {
        m_stream->Abandon();
    }
    m_temporary.Remove();
}

bool CanReplaceFile(const std::string& fileName)
{
    if (fileName.empty() || fileName.back() == '/')
        return false;
    struct stat target
    {
    };
    const bool exists = ::lstat(fileName.c_str(), &target) == 0;
    // A symbolic link is replaced, not followed, so only a real folder stands in the way.
    if (exists && S_ISDIR(target.st_mode))
        return false;
    const std::size_t slash = fileName.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : fileName.substr(0, slash);
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return false;
    struct stat folderInfo
    {
    };
    if (!exists || ::stat(folder.c_str(), &folderInfo) != 0 || (folderInfo.st_mode & S_ISVTX) == 0)
        return true;
    const uid_t self = ::geteuid();
    return self == 0 || target.st_uid == self || folderInfo.st_uid == self;
}
