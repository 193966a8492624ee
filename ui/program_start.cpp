// Start-up of the desktop program before and while Qt opens its platform.
#include "ui/program_start.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <vector>

#include <QString>
#include <QtGlobal>

namespace torquelin {
namespace {

constexpr char kHelp[] =
    "Usage: torquelin-gui [Qt options]\n"
    "       torquelin-gui --help | --version\n"
    "\n"
    "Opens the desktop program of Torquelin: one window with a page for each job\n"
    "(create a patch from two directories or from a vault, apply a patch, query\n"
    "a patch, create a vault, fingerprint a directory). The command-line program\n"
    "torquelin(1) does the same jobs without a display.\n"
    "\n"
    "  -h, --help    show this help\n"
    "  --version     show the version\n"
    "\n"
    "Qt options such as -platform NAME and -style NAME are passed on to Qt.\n"
    "Exit status: 0 when the window was closed, 1 when no window could be opened.\n";

bool IsSet(const char* value) { return value != nullptr && *value != '\0'; }

// What the guard keeps; one start at a time, but Qt may log from a thread it
// starts, so the list is locked.
struct HeldMessage {
  QtMsgType type;
  std::string category;
  QString text;
};
std::mutex held_lock;
std::vector<HeldMessage> held;
QtMessageHandler previous_handler = nullptr;

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  std::lock_guard lock(held_lock);
  if (type != QtFatalMsg) {
    held.push_back({type, context.category ? context.category : "", text});
    return;
  }
  // Qt reports the cause first ("could not connect to display :0") and its
  // advice last; the cause is the line worth showing.
  QString cause = held.empty() ? text : held.front().text;
  cause = cause.section(QLatin1Char('\n'), 0, 0).trimmed();
  std::fprintf(stderr, "torquelin-gui: cannot open the window: %s\n",
               cause.toLocal8Bit().constData());
  std::fflush(stderr);
  std::_Exit(1);
}

}  // namespace

StartPlan PlanStart(int argc, const char* const* argv,
                    const std::function<const char*(const char*)>& env) {
  bool platform_given = IsSet(env("QT_QPA_PLATFORM"));
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") return {StartPlan::Action::Print, kHelp, 0};
    if (arg == "--version")
      return {StartPlan::Action::Print, "torquelin-gui " TORQUELIN_VERSION "\n", 0};
    if (arg == "-platform" || arg == "--platform") platform_given = true;
  }
  if (!platform_given && !IsSet(env("DISPLAY")) && !IsSet(env("WAYLAND_DISPLAY"))) {
    return {StartPlan::Action::Fail,
            "torquelin-gui: no display to open the window on (neither DISPLAY nor "
            "WAYLAND_DISPLAY is set); torquelin(1) works without one\n",
            1};
  }
  return {};
}

StartGuard::StartGuard() { previous_handler = qInstallMessageHandler(HoldMessage); }

StartGuard::~StartGuard() {
  qInstallMessageHandler(previous_handler);
  std::vector<HeldMessage> messages;
  {
    std::lock_guard lock(held_lock);
    messages.swap(held);
  }
  if (previous_handler == nullptr) return;
  for (const HeldMessage& message : messages) {
    QMessageLogContext context(nullptr, 0, nullptr, message.category.c_str());
    previous_handler(message.type, context, message.text);
  }
}

}  // namespace torquelin
