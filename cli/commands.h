// The command table of the torquelin program and the parsing of its
// arguments into a job and its parameters.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/jobs/job_runner.h"

namespace torquelin {

// The arguments of one command after parsing, as engine text.
class CommandArgs {
 public:
  // The i-th positional argument; empty text when it was not given (the job
  // then reports the missing value in its own words).
  std::u16string Positional(size_t i) const;
  // The value of an option such as "--filter", empty text when not given.
  std::u16string Value(const std::string& option) const;
  bool Flag(const std::string& flag) const;
  // The value of "--filter" as the engine reads filters: a '/' typed there
  // separates folders as '\\' does (no name can hold a '/').
  std::u16string Filter() const;

  std::vector<std::u16string> positionals;
  std::map<std::string, std::u16string> values;
  std::set<std::string> flags;
};

// One command: its name, what it takes, and how its arguments become the
// parameters of its job. Adding a job to the program is one entry.
struct CommandEntry {
  const char* name;
  JobKind kind;
  const char* synopsis;  // arguments as the help shows them
  const char* summary;   // one line for the help
  std::string options;   // the lines of "torquelin COMMAND --help" that explain its options
  std::vector<const char*> positionals;
  std::vector<const char*> valueOptions;  // take one argument: --x TEXT or --x=TEXT
  std::vector<const char*> flagOptions;   // take none
  JobParams (*build)(const CommandArgs& args);
  // What is wrong with the arguments beyond their count and names (one
  // line for the usage error), empty when nothing is; null: nothing to check.
  std::string (*check)(const CommandArgs& args) = nullptr;
  // How many of the last positionals may be left out.
  size_t optionalPositionals = 0;
};

const std::vector<CommandEntry>& Commands();

// What the command line asks for.
struct Invocation {
  enum class Action { RunJob, ShowHelp, ShowVersion, UsageError };
  Action action = Action::UsageError;
  bool quiet = false;
  bool verbose = false;  // errors also as their four-line text
  bool json = false;     // the result as a JSON document (cli/json_document.h)
  JobKind kind = JobKind::Fingerprint;
  JobParams params;
  std::string error;  // for UsageError: what was wrong, one line
  // For ShowHelp: the command named with --help, whose help alone is shown;
  // for UsageError, the command whose usage line is shown; null for the
  // whole program's.
  const CommandEntry* helpCommand = nullptr;
};

// Parses argv[1..]. "-q"/"--quiet", "-v"/"--verbose", "-h"/"--help" and
// "--version" are accepted anywhere; "--" ends the options. Unknown options,
// a missing option value, a missing or extra argument, an unknown or no
// command are usage errors (an argument given as empty text is given: the
// job names what is wrong with it). Arguments become engine text as typed
// (platform::TextFromArgument): a '\\' is a backslash, only undecodable bytes map as in names.
Invocation ParseCommandLine(int argc, const char* const* argv);

// The help text (--help), one command's help (COMMAND --help) and the short
// usage text for errors: the command's usage line, or every command's.
std::string HelpText();
std::string CommandHelpText(const CommandEntry& command);
std::string UsageText(const CommandEntry* command = nullptr);

}  // namespace torquelin
