#pragma once

#include <string>

// A temporary file that a signal handler may have to remove: when the process is ended at once
// (a second Ctrl+C while a document is being written), nothing else would delete it. One such
// file is pending at a time; the whole program writes on one thread.

// mkstemps(pathTemplate, suffixLength) that also records the new file's path as pending. No
// signal can land between creating the file and recording it. Returns the descriptor, or -1
// with errno set.
int CreateTemporaryFile(std::string& pathTemplate, int suffixLength);

// The pending file was renamed into place or deleted: a signal must no longer touch its path.
void ForgetTemporaryFile();

// Deletes the pending file, if any. Async-signal-safe: meant for a handler that then _exits.
void RemovePendingTemporaryFile();
