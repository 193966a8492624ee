// torquelin: runs one job from the command line and reports like the window.
#include <cstdio>

#include "cli/commands.h"
#include "cli/console_host.h"
#include "platform/console.h"
#include "platform/encoding.h"

int main(int argc, char** argv) {
  const Invocation invocation = ParseCommandLine(argc, argv);
  switch (invocation.action) {
    case Invocation::Action::ShowHelp:
      std::fputs(HelpText().c_str(), stdout);
      return 0;
    case Invocation::Action::ShowVersion:
      std::fputs("torquelin " TORQUELIN_VERSION "\n", stdout);
      return 0;
    case Invocation::Action::UsageError:
      std::fprintf(stderr, "torquelin: %s\n%s", invocation.error.c_str(), UsageText().c_str());
      return 2;
    case Invocation::Action::RunJob:
      break;
  }

  const CConsoleHost::Mode mode = invocation.quiet              ? CConsoleHost::Mode::Quiet
                                  : platform::StderrIsTerminal() ? CConsoleHost::Mode::Terminal
                                                                 : CConsoleHost::Mode::Lines;
  CConsoleHost host(mode, invocation.params, stderr);
  platform::SetCancelFlagOnInterrupt(&host.CancelFlag());
  const JobOutcome outcome = RunJob(host, host, invocation.kind);
  host.Finish(outcome);
  if (outcome == JobOutcome::Succeeded && !host.Result().empty()) {
    std::fputs((platform::ToUtf8(host.Result()) + "\n").c_str(), stdout);
  }
  return ExitCodeFor(outcome, host.LastStatus());
}
