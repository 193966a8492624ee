// Command lines parsed into the job and its parameters, or into the usage
// error, help or version they ask for.
#include "cli/commands.h"

#include <gtest/gtest.h>

#include <variant>
#include <vector>

using namespace torquelin;

namespace {

Invocation Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "torquelin");
  return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

}  // namespace

TEST(ParseCommandLine, MapsArgumentsToTheJob) {
  const Invocation full = Parse({"fingerprint", "/d", "--filter", "*.obj"});
  ASSERT_EQ(full.action, Invocation::Action::RunJob);
  EXPECT_EQ(full.kind, JobKind::Fingerprint);
  const auto& p = std::get<FingerprintParams>(full.params);
  EXPECT_EQ(p.directory, u"/d");
  EXPECT_EQ(p.filter, u"*.obj");

  const auto params = [](const Invocation& i) { return std::get<FingerprintParams>(i.params); };
  EXPECT_EQ(params(Parse({"-q", "fingerprint", "--filter=a;b", "/d"})).filter, u"a;b");
  EXPECT_TRUE(Parse({"fingerprint", "/d", "-q"}).quiet);
  EXPECT_TRUE(Parse({"--verbose", "fingerprint", "/d"}).verbose);
  // An empty argument is given: the job names what is wrong with it.
  EXPECT_EQ(params(Parse({"fingerprint", ""})).directory, u"");
  // After "--" a leading '-' is a name, and an option value may start with '-'.
  EXPECT_EQ(params(Parse({"fingerprint", "--", "-dir"})).directory, u"-dir");
  EXPECT_EQ(params(Parse({"fingerprint", "/d", "--filter", "-x"})).filter, u"-x");
  // Bytes that are not UTF-8 survive; a typed backslash is a backslash.
  EXPECT_EQ(params(Parse({"fingerprint", "/caf\xE9"})).directory, u"/caf\uEFE9");
  const FingerprintParams typed = params(Parse({"fingerprint", "d\\", "--filter", "sub\\*.o"}));
  EXPECT_EQ(typed.directory, u"d\\");
  EXPECT_EQ(typed.filter, u"sub\\*.o");
}

TEST(ParseCommandLine, UsageErrorsHelpAndVersion) {
  struct Case {
    std::vector<const char*> args;
    Invocation::Action action;
    const char* error;
  } cases[] = {
      {{}, Invocation::Action::UsageError, "no command given"},
      {{"-q"}, Invocation::Action::UsageError, "no command given"},
      {{"frobnicate"}, Invocation::Action::UsageError, "unknown command 'frobnicate'"},
      {{"fingerprint", "/a", "/b"},
       Invocation::Action::UsageError,
       "too many arguments for 'fingerprint'"},
      {{"fingerprint", "/a", "--bogus"},
       Invocation::Action::UsageError,
       "unknown option '--bogus'"},
      {{"fingerprint", "/a", "--filter"},
       Invocation::Action::UsageError,
       "option '--filter' needs a value"},
      {{"--filter", "x", "fingerprint"},
       Invocation::Action::UsageError,
       "unknown option '--filter'"},
      {{"fingerprint"}, Invocation::Action::UsageError, "missing DIR for 'fingerprint'"},
      {{"create-patch", "/o"}, Invocation::Action::UsageError, "missing NEWER for 'create-patch'"},
      {{"apply", "/d"}, Invocation::Action::UsageError, "missing PATCH for 'apply'"},
      {{"--help"}, Invocation::Action::ShowHelp, ""},
      {{"fingerprint", "-h"}, Invocation::Action::ShowHelp, ""},
      {{"--version"}, Invocation::Action::ShowVersion, ""},
  };
  for (const Case& c : cases) {
    const Invocation i = Parse(c.args);
    EXPECT_EQ(i.action, c.action) << c.error;
    EXPECT_EQ(i.error, c.error);
  }
}

TEST(ParseCommandLine, PatchAndVaultCommandsFillTheirJobsParameters) {
  const Invocation patch = Parse({"create-patch", "/o", "/n", "/p.dov", "--report", "/r.xml"});
  ASSERT_EQ(patch.action, Invocation::Action::RunJob);
  EXPECT_EQ(patch.kind, JobKind::CreatePatch);
  const auto& p = std::get<CreatePatchParams>(patch.params);
  EXPECT_EQ(p.olderDir + p.newerDir + p.patchPath + p.reportPath + p.filter, u"/o/n/p.dov/r.xml");

  // The command names the vault before the patch; the job takes them the
  // other way round.
  const Invocation fromVault =
      Parse({"create-patch-vault", "/n", "/v.zov", "/p.dov", "--update-vault"});
  EXPECT_EQ(fromVault.kind, JobKind::CreateVaultPatch);
  const auto& v = std::get<CreateVaultPatchParams>(fromVault.params);
  EXPECT_EQ(v.newerDir, u"/n");
  EXPECT_EQ(v.patchPath, u"/p.dov");
  EXPECT_EQ(v.vaultPath, u"/v.zov");
  EXPECT_TRUE(v.updateVault);
  EXPECT_FALSE(
      std::get<CreateVaultPatchParams>(Parse({"create-patch-vault", "/n", "/v", "/p"}).params)
          .updateVault);

  const auto vault =
      std::get<CreateVaultParams>(Parse({"create-vault", "/d", "/v.zov", "--filter=*.o"}).params);
  EXPECT_EQ(vault.directory + u"|" + vault.filter + u"|" + vault.vaultPath, u"/d|*.o|/v.zov");
  const auto query = std::get<QueryPatchParams>(Parse({"query", "/p.dov"}).params);
  EXPECT_EQ(query.patchPath, u"/p.dov");
  EXPECT_EQ(query.reportPath, u"");
  EXPECT_EQ(Parse({"query", "/p", "/r", "/x"}).error, "too many arguments for 'query'");
}

TEST(ParseCommandLine, CompactAndItsLevelOnBothPatchCommands) {
  struct Parsed {
    std::vector<const char*> args;
    bool compact;
    int level;
  } parsed[] = {
      {{"create-patch", "o", "n", "p"}, false, kDefaultCompactLevel},
      {{"create-patch", "o", "n", "p", "--compact"}, true, kDefaultCompactLevel},
      {{"create-patch", "--level=19", "--compact", "o", "n", "p"}, true, 19},
      {{"create-patch-vault", "n", "v", "p", "--compact", "--level", "1"}, true, 1},
      {{"create-patch-vault", "n", "v", "p", "--compact", "--level", "22"}, true, 22},
  };
  for (const Parsed& c : parsed) {
    const Invocation i = Parse(c.args);
    SCOPED_TRACE(c.args.back());
    ASSERT_EQ(i.error, "");
    const CreatePatchOptions options = i.kind == JobKind::CreatePatch
                                           ? std::get<CreatePatchParams>(i.params).options
                                           : std::get<CreateVaultPatchParams>(i.params).options;
    EXPECT_EQ(options.compact, c.compact);
    EXPECT_EQ(options.level, c.level);
  }

  const std::string range = "option '--level' takes a number from 1 to 22";
  const std::pair<std::vector<const char*>, std::string> refused[] = {
      {{"create-patch", "o", "n", "p", "--level", "3"}, "option '--level' needs '--compact'"},
      {{"create-patch-vault", "n", "v", "p", "--compact", "--level", "0"}, range},
      {{"create-patch", "o", "n", "p", "--compact", "--level", "23"}, range},
      {{"create-patch", "o", "n", "p", "--compact", "--level", "-5"}, range},
      {{"create-patch", "o", "n", "p", "--compact", "--level", "1x"}, range},
      {{"create-patch", "o", "n", "p", "--compact", "--level", "99999999999999999999"}, range},
      {{"create-patch", "o", "n", "p", "--compact", "--level="}, range},
      {{"query", "p", "r", "--compact"}, "unknown option '--compact'"},
  };
  for (const auto& [args, error] : refused) EXPECT_EQ(Parse(args).error, error) << args.back();
}

TEST(ParseCommandLine, ApplyTakesTwoPathsAReportAndTwoFlags) {
  const auto params = [](const Invocation& i) { return std::get<ApplyPatchParams>(i.params); };
  const Invocation full = Parse({"apply", "/d", "p.dov", "--report", "r.xml",
                                 "--continue-on-errors", "--ignore-fingerprint"});
  ASSERT_EQ(full.action, Invocation::Action::RunJob);
  EXPECT_EQ(full.kind, JobKind::ApplyPatch);
  EXPECT_EQ(params(full).directory, u"/d");
  EXPECT_EQ(params(full).patchPath, u"p.dov");
  EXPECT_EQ(params(full).reportPath, u"r.xml");
  EXPECT_TRUE(params(full).continueOnErrors);
  EXPECT_TRUE(params(full).ignoreFingerprint);
  const ApplyPatchParams plain = params(Parse({"apply", "/d", "p.dov"}));
  EXPECT_FALSE(plain.continueOnErrors || plain.ignoreFingerprint);
  EXPECT_EQ(plain.reportPath, u"");
  EXPECT_EQ(Parse({"apply", "/d", "p", "x"}).error, "too many arguments for 'apply'");
}

TEST(ParseCommandLine, CommandHelpNamesTheCommand) {
  EXPECT_EQ(Parse({"--help"}).helpCommand, nullptr);
  for (const CommandEntry& c : Commands()) {
    const Invocation i = Parse({"-q", c.name, "--help"});
    EXPECT_EQ(i.action, Invocation::Action::ShowHelp) << c.name;
    EXPECT_EQ(i.helpCommand, &c) << c.name;
  }
}
