// What the command-line program needs of its console: whether stderr is a
// terminal, its width, and Ctrl-C turned into a cancel request.
#pragma once

#include <atomic>

namespace platform {

// isatty on the standard error stream.
bool StderrIsTerminal();

// Columns of the terminal on stderr, or 0 when unknown.
int StderrColumns();

// From now on the first interrupt (SIGINT) only sets *flag to true; a second
// one ends the process as usual, so a job stuck in one huge file can still
// be stopped. The flag must outlive the process's use of signals.
void SetCancelFlagOnInterrupt(std::atomic<bool>* flag);

}  // namespace platform
