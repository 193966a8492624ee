// What the command-line program needs of its console: whether stderr is a
// terminal, its width, and Ctrl-C (or a request to stop) turned into a
// cancel request.
#pragma once

#include <atomic>

namespace torquelin {

namespace platform {

// isatty on the standard error stream.
bool StderrIsTerminal();

// Columns of the terminal on stderr, or 0 when unknown.
int StderrColumns();

// From now on the first request to stop, an interrupt (SIGINT, Ctrl-C), a
// termination request (SIGTERM) or a hangup (SIGHUP), only sets *flag to
// true; a second one, of any of the three, ends the process as usual, so a
// job stuck in one huge file can still be stopped. A signal that was ignored
// when the process started (nohup) stays ignored. The flag must outlive the
// process's use of signals.
void SetCancelFlagOnInterrupt(std::atomic<bool>* flag);

}  // namespace platform

}  // namespace torquelin
