#include "app/cli/CancelSignals.h"

#include <unistd.h>

#include "platform/TemporaryFile.h"

namespace
{

volatile std::sig_atomic_t g_cancelRequested = 0;

extern "C" void OnCancelSignal(int)
{
    // Only async-signal-safe work here: a flag, or an unlink and _exit. Stopping at once may
    // cut a document's write short; its temporary file would otherwise stay in the folder.
    if (g_cancelRequested != 0)
    {
        RemovePendingTemporaryFiles();
        _exit(130);
    }
    g_cancelRequested = 1;
}

} // namespace

void InstallCancelHandlers()
{
    struct sigaction action
    {
    };
    action.sa_handler = OnCancelSignal;
    sigemptyset(&action.sa_mask);
    // Restart interrupted reads and writes: the first signal only asks the run to stop at its
    // next check, it must not make a file operation fail.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

const volatile std::sig_atomic_t& CancelFlag()
{
    return g_cancelRequested;
}
