// What the desktop program does before its window exists: it answers --help
// and --version without a display, and turns a missing display into one line
// and exit status 1 instead of Qt's abort.
#pragma once

#include <functional>
#include <string>

namespace torquelin {

// What main does with its command line before Qt sees it.
struct StartPlan {
  enum class Action { OpenWindow, Print, Fail };
  Action action = Action::OpenWindow;
  // Print: the text for stdout; Fail: the line for stderr (with its newline).
  std::string text;
  int exit_status = 0;
};

// Answers -h/--help and --version wherever they stand. Otherwise, unless Qt
// is told which platform to use (-platform NAME, QT_QPA_PLATFORM), a window
// needs DISPLAY or WAYLAND_DISPLAY: without either the plan is to fail.
// `env` reads the environment as getenv does (null when unset).
StartPlan PlanStart(int argc, const char* const* argv,
                    const std::function<const char*(const char*)>& env);

// Held while the application object starts. Qt's messages are kept; a fatal
// one (no platform could be opened, for example a DISPLAY nobody answers)
// becomes one line on stderr naming what Qt reported first, and the program
// exits 1 at once. When the start succeeds, the kept messages go to the
// handler that was in place before, in their order.
class StartGuard {
 public:
  StartGuard();
  ~StartGuard();
  StartGuard(const StartGuard&) = delete;
  StartGuard& operator=(const StartGuard&) = delete;
};

}  // namespace torquelin
