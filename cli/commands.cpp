// The command table and the argument parser of the torquelin program.
#include "cli/commands.h"

#include <algorithm>
#include <cstring>

#include "platform/encoding.h"
#include "platform/standard_streams.h"

namespace torquelin {

std::u16string CommandArgs::Positional(size_t i) const {
  return i < positionals.size() ? positionals[i] : std::u16string();
}

std::u16string CommandArgs::Value(const std::string& option) const {
  const auto it = values.find(option);
  return it == values.end() ? std::u16string() : it->second;
}

bool CommandArgs::Flag(const std::string& flag) const { return flags.count(flag) != 0; }

std::u16string CommandArgs::Filter() const {
  std::u16string filter = Value("--filter");
  std::replace(filter.begin(), filter.end(), u'/', u'\\');
  return filter;
}

namespace {

// What "-" as the patch means, in the help of the commands that write one
// and of those that read one.
const std::string kPatchToStdoutHelp =
    "  PATCH as -            write the patch to standard output (never a terminal)\n";
const std::string kPatchFromStdinHelp =
    "  PATCH as -            read the patch from standard input (never a terminal)\n";

// The lines of both patch commands' help on how the patch is written.
const std::string kCompactOptionsHelp =
    "  --compact             write a compact patch: contents as zstd deltas against the\n"
    "                        older files, copies or compressed (much smaller; Torquelin\n"
    "                        1.3 or later applies it)\n"
    "  --level N             the compact patch's zstd level, 1 (fastest) to 22 (smallest);\n"
    "                        default " +
    std::to_string(kDefaultCompactLevel) + "\n";

// --level's value when it is a whole number from 1 to 22, else 0.
int LevelOf(const std::u16string& text) {
  int level = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9' || level > kMaxCompactLevel) return 0;
    level = level * 10 + (c - u'0');
  }
  return level >= kMinCompactLevel && level <= kMaxCompactLevel ? level : 0;
}

CreatePatchOptions PatchOptionsOf(const CommandArgs& a) {
  CreatePatchOptions options;
  options.compact = a.Flag("--compact");
  if (a.values.count("--level") != 0) options.level = LevelOf(a.Value("--level"));
  return options;
}

// "-" as the patch is standard input or output, which must not be a
// terminal: a patch is never typed, and never shown.
std::string CheckPatchStream(const std::u16string& patch, platform::StandardStream stream) {
  if (patch != u"-" || !platform::StandardStreamIsTerminal(stream)) return {};
  return stream == platform::StandardStream::Input
             ? "refusing to read a patch from a terminal: redirect standard input"
             : "refusing to write a patch to a terminal: redirect standard output";
}

std::string CheckQueriedPatch(const CommandArgs& a) {
  return CheckPatchStream(a.Positional(0), platform::StandardStream::Input);
}

std::string CheckAppliedPatch(const CommandArgs& a) {
  return CheckPatchStream(a.Positional(1), platform::StandardStream::Input);
}

std::string CheckPatchOptions(const CommandArgs& a) {
  if (std::string wrong = CheckPatchStream(a.Positional(2), platform::StandardStream::Output);
      !wrong.empty()) {
    return wrong;
  }
  if (a.values.count("--level") == 0) return {};
  if (!a.Flag("--compact")) return "option '--level' needs '--compact'";
  if (LevelOf(a.Value("--level")) == 0) return "option '--level' takes a number from 1 to 22";
  return {};
}

}  // namespace

const std::vector<CommandEntry>& Commands() {
  static const std::vector<CommandEntry> kCommands = {
      {"fingerprint",
       JobKind::Fingerprint,
       "DIR [--filter TEXT] [--json]",
       "Print the 40-character fingerprint of directory DIR.",
       "  --filter TEXT         leave out entries: ';'-separated patterns, '*' any run of\n"
       "                        characters, '?' one character; a pattern with '/' (or '\\')\n"
       "                        is matched against the whole path below the directory\n"
       "  --json                print the result as one JSON document on stdout\n",
       {"DIR"},
       {"--filter"},
       {"--json"},
       [](const CommandArgs& a) -> JobParams {
         return FingerprintParams{a.Positional(0), a.Filter()};
       }},
      {"create-patch",
       JobKind::CreatePatch,
       "OLDER NEWER PATCH [--report XML] [--filter TEXT] [--compact [--level N]]",
       "Write to PATCH what turns directory OLDER into directory NEWER.",
       kPatchToStdoutHelp +
           "  --report XML          also describe the patch in the XML report XML\n"
           "  --filter TEXT         leave out entries: ';'-separated patterns, '*' any run of\n"
           "                        characters, '?' one character; a pattern with '/' (or '\\')\n"
           "                        is matched against the whole path below both directories\n" +
           kCompactOptionsHelp,
       {"OLDER", "NEWER", "PATCH"},
       {"--report", "--filter", "--level"},
       {"--compact"},
       [](const CommandArgs& a) -> JobParams {
         return CreatePatchParams{a.Positional(0),     a.Positional(1), a.Positional(2),
                                  a.Value("--report"), a.Filter(),      PatchOptionsOf(a)};
       },
       CheckPatchOptions},
      {"create-vault",
       JobKind::CreateVault,
       "DIR VAULT [--filter TEXT]",
       "Record the state of directory DIR in the vault file VAULT.",
       "  --filter TEXT         leave out entries, and keep the filter in VAULT: ';'-separated\n"
       "                        patterns, '*' any run of characters, '?' one character; a\n"
       "                        pattern with '/' (or '\\') is matched against the whole path\n"
       "                        below DIR\n",
       {"DIR", "VAULT"},
       {"--filter"},
       {},
       [](const CommandArgs& a) -> JobParams {
         return CreateVaultParams{a.Positional(0), a.Filter(), a.Positional(1)};
       }},
      {"create-patch-vault",
       JobKind::CreateVaultPatch,
       "NEWER VAULT PATCH [--report XML] [--update-vault] [--compact [--level N]]",
       "Write to PATCH what turns the state recorded in VAULT into directory NEWER.",
       kPatchToStdoutHelp +
           "  --report XML          also describe the patch in the XML report XML\n"
           "  --update-vault        once the patch is complete, rewrite VAULT to record NEWER\n" +
           kCompactOptionsHelp,
       {"NEWER", "VAULT", "PATCH"},
       {"--report", "--level"},
       {"--update-vault", "--compact"},
       [](const CommandArgs& a) -> JobParams {
         // The job takes the patch before the vault.
         return CreateVaultPatchParams{a.Positional(0),          a.Positional(2),
                                       a.Positional(1),          a.Value("--report"),
                                       a.Flag("--update-vault"), PatchOptionsOf(a)};
       },
       CheckPatchOptions},
      {"query",
       JobKind::QueryPatch,
       "PATCH [XML] [--json]",
       "List what PATCH changes, one line each, or write what it stores as the XML report XML.",
       kPatchFromStdinHelp +
           "  --json                print the changes as one JSON document on stdout instead\n",
       {"PATCH", "XML"},
       {},
       {"--json"},
       [](const CommandArgs& a) -> JobParams {
         return QueryPatchParams{a.Positional(0), a.Positional(1), a.positionals.size() < 2};
       },
       [](const CommandArgs& a) -> std::string {
         if (a.Flag("--json") && a.positionals.size() > 1) return "option '--json' takes no XML";
         return CheckQueriedPatch(a);
       },
       1},
      {"apply",
       JobKind::ApplyPatch,
       "DIR PATCH [--report XML] [--continue-on-errors] [--ignore-fingerprint] [--check [--json]] "
       "[--in-place]",
       "Bring DIR, a copy of the older tree, to the newer state PATCH records.",
       kPatchFromStdinHelp +
           "  --report XML          write what was done, and every file that could not be\n"
           "                        written, as the XML report XML\n"
           "  --continue-on-errors  go on past items that cannot be changed (not recommended:\n"
           "                        only the closing fingerprint check judges the result)\n"
           "  --ignore-fingerprint  skip the fingerprint checks before and after\n"
           "  --check               run every check up to the first change and change nothing:\n"
           "                        exit status 0 when the apply would succeed, 5 when DIR is\n"
           "                        not the patch's older tree, 1 for any other refusal; with\n"
           "                        -v, list what would change as query does\n"
           "  --json                with --check: print what would change as one JSON document\n"
           "  --in-place            change DIR directly, without staging the new contents beside\n"
           "                        their destinations first (needs less room; not crash-safe)\n",
       {"DIR", "PATCH"},
       {"--report"},
       {"--continue-on-errors", "--ignore-fingerprint", "--check", "--in-place", "--json"},
       [](const CommandArgs& a) -> JobParams {
         return ApplyPatchParams{a.Positional(0),
                                 a.Positional(1),
                                 a.Value("--report"),
                                 a.Flag("--continue-on-errors"),
                                 a.Flag("--ignore-fingerprint"),
                                 a.Flag("--in-place"),
                                 a.Flag("--check")};
       },
       [](const CommandArgs& a) -> std::string {
         if (a.Flag("--json") && !a.Flag("--check")) return "option '--json' needs '--check'";
         return CheckAppliedPatch(a);
       }},
      {"verify",
       JobKind::Verify,
       "DIR VAULT [--report XML] [--json]",
       "List what differs between directory DIR and the state recorded in VAULT.",
       "  --report XML          also write the differences as the XML report XML\n"
       "  --json                print the differences as one JSON document on stdout\n",
       {"DIR", "VAULT"},
       {"--report"},
       {"--json"},
       [](const CommandArgs& a) -> JobParams {
         return VerifyParams{a.Positional(0), a.Positional(1), a.Value("--report")};
       }},
  };
  return kCommands;
}

namespace {

bool Contains(const std::vector<const char*>& names, const std::string& name) {
  return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
}

Invocation UsageError(std::string error, const CommandEntry* command = nullptr) {
  Invocation invocation;
  invocation.action = Invocation::Action::UsageError;
  invocation.error = std::move(error);
  invocation.helpCommand = command;
  return invocation;
}

// The lines of the exit statuses a command can end with.
std::string ExitStatusLines(const CommandEntry* command) {
  const bool apply = command == nullptr || command->kind == JobKind::ApplyPatch;
  const bool verify = command == nullptr || command->kind == JobKind::Verify;
  std::string text =
      "  0    done\n"
      "  1    the job failed\n"
      "  2    bad usage: a missing or extra argument, an unknown option\n";
  if (apply)
    text += "  3    apply: the patch was applied but DIR does not have the newer fingerprint\n";
  if (verify) text += "  3    verify: DIR differs from VAULT\n";
  if (apply) {
    text +=
        "  4    apply: the patch was applied but items were skipped (3 wins when both hold)\n"
        "  5    apply: DIR is neither the patch's older tree nor its newer one; nothing was\n"
        "       changed\n";
  }
  text += "  130  cancelled (Ctrl-C, SIGTERM or SIGHUP)\n";
  return text;
}

}  // namespace

Invocation ParseCommandLine(int argc, const char* const* argv) {
  Invocation invocation;
  bool help = false;
  bool version = false;
  bool optionsEnded = false;
  const CommandEntry* command = nullptr;
  CommandArgs args;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool isOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
    if (!isOption) {
      if (command == nullptr) {
        const auto& all = Commands();
        const auto it = std::find_if(all.begin(), all.end(),
                                     [&](const CommandEntry& c) { return arg == c.name; });
        if (it == all.end()) return UsageError("unknown command '" + arg + "'");
        command = &*it;
      } else if (args.positionals.size() < command->positionals.size()) {
        args.positionals.push_back(platform::TextFromArgument(arg));
      } else {
        return UsageError("too many arguments for '" + std::string(command->name) + "'", command);
      }
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-q" || arg == "--quiet") {
      invocation.quiet = true;
    } else if (arg == "-v" || arg == "--verbose") {
      invocation.verbose = true;
    } else if (arg == "-h" || arg == "--help") {
      help = true;
    } else if (arg == "--version") {
      version = true;
    } else {
      const size_t eq = arg.find('=');
      const std::string name = arg.substr(0, eq);
      if (command != nullptr && Contains(command->valueOptions, name)) {
        if (eq != std::string::npos) {
          args.values[name] = platform::TextFromArgument(arg.substr(eq + 1));
        } else if (i + 1 < argc) {
          args.values[name] = platform::TextFromArgument(argv[++i]);
        } else {
          return UsageError("option '" + name + "' needs a value", command);
        }
      } else if (command != nullptr && eq == std::string::npos &&
                 Contains(command->flagOptions, name)) {
        args.flags.insert(name);
      } else {
        return UsageError("unknown option '" + arg + "'", command);
      }
    }
  }
  if (help) {
    invocation.action = Invocation::Action::ShowHelp;
    invocation.helpCommand = command;
  } else if (version) {
    invocation.action = Invocation::Action::ShowVersion;
  } else if (command == nullptr) {
    return UsageError("no command given");
  } else if (args.positionals.size() + command->optionalPositionals < command->positionals.size()) {
    return UsageError("missing " + std::string(command->positionals[args.positionals.size()]) +
                          " for '" + command->name + "'",
                      command);
  } else if (const std::string wrong = command->check ? command->check(args) : std::string();
             !wrong.empty()) {
    return UsageError(wrong, command);
  } else {
    invocation.action = Invocation::Action::RunJob;
    invocation.kind = command->kind;
    invocation.params = command->build(args);
    invocation.json = args.Flag("--json");
  }
  return invocation;
}

std::string UsageText(const CommandEntry* command) {
  if (command != nullptr) {
    return "usage: torquelin [-q] [-v] " + std::string(command->name) + " " + command->synopsis +
           "\nTry 'torquelin " + command->name + " --help' for more.\n";
  }
  std::string text = "usage: torquelin [-q] [-v] COMMAND [ARGS]\n";
  for (const CommandEntry& c : Commands()) {
    text += "       torquelin " + std::string(c.name) + " " + c.synopsis + "\n";
  }
  text += "       torquelin --help | --version\n";
  return text;
}

std::string CommandHelpText(const CommandEntry& command) {
  return "usage: torquelin [-q] [-v] " + std::string(command.name) + " " + command.synopsis +
         "\n\n" + command.summary + "\n\nOptions:\n" + command.options +
         "  -q, --quiet           show no progress on stderr (errors are still shown)\n"
         "  -v, --verbose         show an error also with the location that raised it\n"
         "  -h, --help            show this text\n"
         "\nExit status:\n" +
         ExitStatusLines(&command) + "\nSee torquelin(1) for the filter syntax and examples.\n";
}

std::string HelpText() {
  std::string text =
      "torquelin keeps copies of a directory tree in step by shipping patch files.\n\n";
  text += UsageText();
  text += "\nCommands:\n";
  for (const CommandEntry& c : Commands()) {
    text += "  " + std::string(c.name) + " " + c.synopsis + "\n      " + c.summary + "\n";
  }
  text +=
      "\nOptions:\n"
      "  -q, --quiet    show no progress on stderr (errors are still shown)\n"
      "  -v, --verbose  show an error also with the location that raised it\n"
      "  -h, --help     show this text; after a command, that command's usage and options\n"
      "  --version      show the version\n"
      "  --             end of options: later arguments are never read as options\n"
      "\nExit status:\n" +
      ExitStatusLines(nullptr);
  return text;
}

}  // namespace torquelin
