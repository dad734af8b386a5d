#include "app/cli/StagedOutput.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Exceptions.h"
#include "platform/FileDescriptor.h"
#include "platform/SaveFile.h"

namespace
{

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
    const TFileDescriptor fd(m_staging.CreateBeside(m_output, ".part"));
    if (fd.Get() < 0)
        ThrowFileError("Cannot create file", m_output, errno);
    // The document replaces this file keeping its permissions: make them the output's.
    const bool moded = ::fchmod(fd.Get(), NewFileMode(m_output)) == 0;
    const int error = errno;
    if (!moded)
    {
        m_staging.Remove();
        ThrowFileError("Cannot create file", m_output, error);
    }
}

bool TStagedOutput::Commit(const volatile std::sig_atomic_t* cancelFlag)
{
    {
        const TCancelSignalsHeld held;
        if (cancelFlag != nullptr && *cancelFlag != 0)
        {
            m_staging.Remove();
            return false;
        }
        if (::rename(m_staging.Path().c_str(), m_output.c_str()) != 0)
        {
            const int error = errno;
            m_staging.Remove();
            ThrowFileError("Cannot write file", m_output, error);
        }
        m_staging.Keep();
    }
    SyncFolderOf(m_output);
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
