#include "app/cli/StagedOutput.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

#include "platform/Exceptions.h"
#include "platform/SaveFile.h"

namespace {

// As the document's own temporary file: the added dot and suffix must not push a valid name
// past the file system's 255-byte limit.
constexpr std::size_t kMaxNameInStaging = 200;

std::string FolderPart(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

[[noreturn]] void ThrowFileError(const char* what, const std::string& fileName, int error)
{
    throw EFileError(std::string(what) + " \"" + fileName + "\": " + std::strerror(error));
}

// Holds SIGINT and SIGTERM back for its lifetime; they are taken when it ends.
class TCancelSignalsHeld
{
  public:
    TCancelSignalsHeld()
    {
        sigset_t cancel;
        sigemptyset(&cancel);
        sigaddset(&cancel, SIGINT);
        sigaddset(&cancel, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &cancel, &m_previous);
    }
    ~TCancelSignalsHeld() { pthread_sigmask(SIG_SETMASK, &m_previous, nullptr); }
    TCancelSignalsHeld(const TCancelSignalsHeld&) = delete;
    TCancelSignalsHeld& operator=(const TCancelSignalsHeld&) = delete;

  private:
    sigset_t m_previous{};
};

} // namespace

TStagedOutput::TStagedOutput(std::string output) : m_output(std::move(output))
{
    const std::size_t slash = m_output.rfind('/');
    const std::string base = slash == std::string::npos ? m_output : m_output.substr(slash + 1);
    const int fd = m_staging.Create(
        FolderPart(m_output) + "." + base.substr(0, kMaxNameInStaging) + ".XXXXXX.part", 5);
    if (fd < 0)
        ThrowFileError("Cannot create file", m_output, errno);
    // The document replaces this file keeping its permissions: make them the output's.
    const bool moded = ::fchmod(fd, NewFileMode(m_output)) == 0;
    const int error = errno;
    ::close(fd);
    if (!moded) {
        m_staging.Remove();
        ThrowFileError("Cannot create file", m_output, error);
    }
}

bool TStagedOutput::Commit(const volatile std::sig_atomic_t* cancelFlag)
{
    {
        const TCancelSignalsHeld held;
        if (cancelFlag != nullptr && *cancelFlag != 0) {
            m_staging.Remove();
            return false;
        }
        if (::rename(m_staging.Path().c_str(), m_output.c_str()) != 0) {
            const int error = errno;
            m_staging.Remove();
            ThrowFileError("Cannot write file", m_output, error);
        }
        m_staging.Keep();
    }
    // Make the rename itself durable; the file is in place whatever this says.
    const std::string folder = FolderPart(m_output);
    const int dirFd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

std::string TStagedOutput::AsOutput(std::string message) const
{
    const std::string& staging = m_staging.Path();
    if (staging.empty())
        return message;
    for (std::size_t at = message.find(staging); at != std::string::npos;
         at = message.find(staging, at + m_output.size()))
        message.replace(at, staging.size(), m_output);
    return message;
}
