// POSIX console queries and the SIGINT handler of the command-line program.
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>

#include "platform/console.h"

namespace platform {
namespace {

static_assert(std::atomic<bool>::is_always_lock_free,
              "the interrupt handler may only touch a lock-free atomic");
std::atomic<bool>* gInterruptFlag = nullptr;

extern "C" void OnInterrupt(int) {
  if (gInterruptFlag != nullptr) gInterruptFlag->store(true);
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
  // SA_RESETHAND: the handler serves once, then SIGINT is fatal again.
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
}

}  // namespace platform
