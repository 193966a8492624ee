// The error code a failed job shows is the one of the system call that
// failed, taken where it failed, and none for a refusal no call caused:
// never what errno happens to hold when the error is raised.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>

#include "engine/base/errors.h"
#include "engine/jobs/apply_patch.h"
#include "engine/jobs/calculate_fingerprint.h"
#include "engine/jobs/create_patch.h"
#include "engine/patch/patch_reader.h"
#include "engine/patch/patch_writer.h"
#include "engine/tree/fingerprint.h"
#include "engine/tree/walker.h"
#include "tests/support/patch_test_util.h"
#include "tests/support/temp_dir.h"

using namespace torquelin;

TEST(ErrorCodes, AFailureCarriesTheCodeOfItsCallAndACheckNone) {
  TempDir dir;
  dir.WriteFile("file", "x");
  dir.WriteFile("older/a.txt", "a");
  dir.WriteFile("newer/a.txt", "b");
  dir.MakeDir("out");
  const std::u16string root = dir.wpath();
  RecordingSink sink;
  CreatePatchFromDirectories(sink, root + u"/older", root + u"/newer", root + u"/out/p.dov", u"",
                             u"");
  WriteBytes(dir.Native("out/short.dov"), ReadBytes(dir.Native("out/p.dov")).substr(0, 10));
  // Contents that do not give the newer tree the patch names.
  ChangeSet other;
  CDirSnapshot older = BuildSnapshot(sink, root + u"/older", u"", FileIds::Compute);
  other.OlderTreeID = ComputeFingerprint(sink, older);
  other.NewerTreeID = std::u16string(40, u'0');
  other.UnlinkedFiles = {u"\\a.txt"};
  WritePatch(sink, other, root + u"/newer", root + u"/out/other.dov");

  struct Case {
    const char* name;
    std::function<void()> job;
    const char* message;  // how the message starts
    uint32_t code;
  } cases[] = {
      {"a file to fingerprint", [&] { CalculateFingerprint(sink, root + u"/file", u""); },
       "Directory for fingerprinting does  not exists: ", 0},
      {"nothing to fingerprint", [&] { CalculateFingerprint(sink, root + u"/missing", u""); },
       "Directory for fingerprinting does  not exists: ", ENOENT},
      {"a directory for a patch", [&] { LoadPatchInfo(sink, root + u"/out"); },
       "Unable to ioen file:", EISDIR},
      {"a patch cut short", [&] { LoadPatchInfo(sink, root + u"/out/short.dov"); },
       "Unable to read a buffer from a patch.", 0},
      {"contents that give another tree",
       [&] { ApplyPatch(sink, root + u"/older", root + u"/out/other.dov", u""); },
       "The patch's stored contents do not give its newer fingerprint", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // What the terminal query of a command-line run leaves behind.
    errno = ENOTTY;
    try {
      c.job();
      ADD_FAILURE() << "no error";
    } catch (const CZRErr& error) {
      EXPECT_EQ(Narrow(error.message).rfind(c.message, 0), 0u) << Narrow(error.message);
      EXPECT_EQ(error.lastError, c.code);
    }
  }
}
