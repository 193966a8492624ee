// POSIX console queries and the handler that turns a request to stop (SIGINT,
// SIGTERM, SIGHUP) into a cancel in the command-line program.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iterator>

#include "platform/console.h"

namespace torquelin {

namespace platform {
namespace {

static_assert(std::atomic<bool>::is_always_lock_free,
              "the interrupt handler may only touch a lock-free atomic");
std::atomic<bool>* gInterruptFlag = nullptr;

// Ctrl-C, and what `kill`, `timeout`, systemd and a closed terminal or SSH
// session send to ask a program to stop.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
// Which of them the handler serves: set before it is installed, only read
// after.
bool gServed[std::size(kStopSignals)] = {};

extern "C" void OnInterrupt(int) {
  // The interrupted code may be about to read errno for its error.
  const int error = errno;
  if (gInterruptFlag != nullptr) gInterruptFlag->store(true);
  // Served once: from now on any of them ends the program as it would have
  // without us, so a job stuck in one huge file can still be stopped.
  struct sigaction fatal {};
  fatal.sa_handler = SIG_DFL;
  sigemptyset(&fatal.sa_mask);
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    if (gServed[i]) ::sigaction(kStopSignals[i], &fatal, nullptr);
  }
  errno = error;
}

}  // namespace

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

int StderrColumns() {
  struct winsize size {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void SetCancelFlagOnInterrupt(std::atomic<bool>* flag) {
  gInterruptFlag = flag;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // While the handler runs the others wait, so two signals at once still
  // count as a first and a second.
  for (const int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    // A signal ignored when we started stays ignored: `nohup` and a shell's
    // background jobs ask for that.
    struct sigaction before {};
    if (::sigaction(kStopSignals[i], nullptr, &before) != 0 || before.sa_handler == SIG_IGN) {
      continue;
    }
    gServed[i] = true;
    ::sigaction(kStopSignals[i], &action, nullptr);
  }
}

}  // namespace platform

}  // namespace torquelin
