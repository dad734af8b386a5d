#pragma once

#include <csignal>
#include <string>

#include "platform/TemporaryFile.h"

// The command line's promise: a Ctrl+C that comes before the PDF is in place means nothing is
// written. The run takes cancel only before each picture, so one during the last picture or
// the final write would still write the file. The run therefore writes to a staging file beside
// the output, and Commit renames it into place only if no cancel has come, with the cancel
// signals held back between that test and the rename. A second Ctrl+C removes the staging file
// (it is a pending temporary file), and so does destruction without Commit.
class TStagedOutput
{
public:
    // Makes the staging file ".<name>.XXXXXX.part" beside output, with the permissions the
    // output will have. Throws EFileError naming output when it cannot be made.
    explicit TStagedOutput(std::string output);
    TStagedOutput(const TStagedOutput&) = delete;
    TStagedOutput& operator=(const TStagedOutput&) = delete;

    // Where the run writes the document.
    const std::string& Path() const { return m_staging.Path(); }
    const std::string& Output() const { return m_output; }

    // Renames the written staging file over the output unless cancelFlag (may be null) is set;
    // returns false, having removed it, when it is. Throws EFileError naming output when the
    // rename fails.
    bool Commit(const volatile std::sig_atomic_t* cancelFlag);

    // The message with every mention of the staging file's path put as the output's.
    std::string AsOutput(std::string message) const;

private:
    std::string m_output;
    TTemporaryFile m_staging;
};
