// torquelin: runs one job from the command line and reports like the window.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/console_host.h"
#include "cli/json_document.h"
#include "platform/console.h"
#include "platform/encoding.h"
#include "platform/system_error.h"

namespace torquelin {
namespace {

// Writes what the user asked for to stdout. Output that cannot be delivered
// (a full disk, a closed pipe) is a failure: a script must not take a
// missing fingerprint for one that was printed. Returns the exit status.
int Deliver(const std::string& text, int status) {
  if (std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0) return status;
  const int error = errno;
  std::fprintf(stderr, "torquelin: unable to write to standard output: %s\n", std::strerror(error));
  return 1;
}

}  // namespace
}  // namespace torquelin

int main(int argc, char** argv) {
  using namespace torquelin;
  platform::ReportOversizedWritesAsErrors();
  const Invocation invocation = ParseCommandLine(argc, argv);
  switch (invocation.action) {
    case Invocation::Action::ShowHelp:
      return Deliver(
          invocation.helpCommand != nullptr ? CommandHelpText(*invocation.helpCommand) : HelpText(),
          0);
    case Invocation::Action::ShowVersion:
      return Deliver("torquelin " TORQUELIN_VERSION "\n", 0);
    case Invocation::Action::UsageError:
      std::fprintf(stderr, "torquelin: %s\n%s", invocation.error.c_str(),
                   UsageText(invocation.helpCommand).c_str());
      return kExitUsage;
    case Invocation::Action::RunJob:
      break;
  }

  // A terminal that cannot move its cursor (TERM=dumb, or none named, as in
  // an editor's shell buffer) gets the lines a file would get.
  const char* term = std::getenv("TERM");
  const bool redraws = platform::StderrIsTerminal() && term != nullptr && *term != '\0' &&
                       std::strcmp(term, "dumb") != 0;
  const CConsoleHost::Mode mode = invocation.quiet ? CConsoleHost::Mode::Quiet
                                  : redraws        ? CConsoleHost::Mode::Terminal
                                                   : CConsoleHost::Mode::Lines;
  CConsoleHost host(mode, stderr, invocation.verbose);
  host.SetJob(invocation.kind);
  platform::SetCancelFlagOnInterrupt(&host.CancelFlag());
  const JobRun run = RunJob(host, host.CancelFlag(), invocation.kind, invocation.params);
  // What a tolerant apply skipped is a verdict, for stderr; the result text
  // (a fingerprint, verify's lines) is the data, for stdout.
  ReportSkippedItems(host, run.skipped);
  host.Finish(run);
  const int status = ExitCodeFor(run);
  if (run.outcome != JobOutcome::Succeeded) return status;
  if (invocation.json) return Deliver(JsonDocument(invocation.kind, run), status);
  if (run.listing && invocation.kind == JobKind::QueryPatch) {
    // The listing, then what it adds up to, after it.
    const int delivered =
        run.result.empty() ? status : Deliver(platform::ToUtf8(run.result) + "\n", status);
    if (!invocation.quiet) std::fprintf(stderr, "%s\n", ListingSummary(*run.listing).c_str());
    return delivered;
  }
  // What a check found the patch would change is asked for with -v.
  if (run.listing && invocation.kind == JobKind::ApplyPatch && invocation.verbose) {
    const std::u16string lines = DifferenceLines(run.listing->differences);
    if (!lines.empty()) return Deliver(platform::ToUtf8(lines) + "\n", status);
  }
  if (!run.result.empty()) return Deliver(platform::ToUtf8(run.result) + "\n", status);
  return status;
}
