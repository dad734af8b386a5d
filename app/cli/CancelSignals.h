#pragma once

#include <csignal>

// Ctrl+C (SIGINT) and SIGTERM for the command line: the first sets the cancel flag, which the
// run reads before each picture; a second one ends the process at once with status 130, after
// removing the temporary file of a document being written. The output file is replaced only at
// the very end of a run, so neither way touches it.

void InstallCancelHandlers();

// The flag the handlers set; the run polls it.
const volatile std::sig_atomic_t& CancelFlag();
