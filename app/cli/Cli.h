#pragma once

#include <csignal>
#include <ostream>
#include <string>

class ICodePage;

// Everything the command line takes from its process, so tests can run it in-process.
struct TCliContext
{
    std::ostream& Out;
    std::ostream& Err;
    // Progress goes to Err only when it is a terminal; lines are cut to TerminalWidth.
    bool ErrIsTerminal = false;
    int TerminalWidth = 80;
    // The locale's codeset (nl_langinfo(CODESET)) and the narrow code page selected from it.
    std::string Codeset = "UTF-8";
    const ICodePage* CodePage = nullptr; // null: the installed one
    // Set asynchronously (by a signal handler) to cancel the run; null: never cancelled.
    const volatile std::sig_atomic_t* CancelFlag = nullptr;
};

// Exit statuses.
constexpr int kExitWritten = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 130;

// The command-line converter: parses argv, gathers the pictures, runs the conversion and returns
// the exit status. Never throws.
int RunCli(int argc, const char* const* argv, const TCliContext& context);
