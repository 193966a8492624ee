// Replacing a file through a temporary beside it: what the file looks like
// while it is written, what it becomes, and what a failure leaves.
#include "platform/replacement_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

using namespace torquelin;

namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

std::vector<std::string> Names(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void Put(const platform::FileHandle& file, const std::string& bytes) {
  ASSERT_TRUE(file.Write(bytes.data(), bytes.size()));
}

// Sets the umask for one test and puts the old one back.
class Umask {
 public:
  explicit Umask(mode_t mask) : old_(::umask(mask)) {}
  ~Umask() { ::umask(old_); }

 private:
  mode_t old_;
};

}  // namespace

// The temporary is private while written whatever the umask, and the file
// that takes the target's place has the target's permissions, or those of
// any new file when there was none.
TEST(ReplacementFile, PrivateWhileWrittenThenTheModeOfTheFileItReplaces) {
  const Umask umask(027);
  struct Case {
    const char* name;
    int previousMode;  // -1: no previous file
    mode_t expected;
  } cases[] = {
      {"new file", -1, 0640},
      {"read-only file", 0444, 0444},
      {"group-writable file", 0664, 0664},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    if (c.previousMode >= 0) {
      dir.WriteFile("out", "previous");
      ::chmod(dir.Native("out").c_str(), static_cast<mode_t>(c.previousMode));
    }
    platform::ReplacementFile file;
    ASSERT_TRUE(file.Create(dir.wpath() + u"/out"));
    Put(file.file(), "new");
    struct stat st {};
    ASSERT_EQ(::fstat(static_cast<int>(file.file().native()), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(dir.ReadFile("out"), c.previousMode >= 0 ? "previous" : "");
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(dir.ReadFile("out"), "new");
    EXPECT_EQ(ModeOf(dir.Native("out")), c.expected);
    EXPECT_EQ(Names(dir), std::vector<std::string>{"out"});
  }
}

// A temporary whose name was taken over by another file never reaches the
// target, and the other file is not ours to remove.
TEST(ReplacementFile, ATemporaryNameTakenOverIsLeftAlone) {
  TempDir dir;
  dir.WriteFile("out", "previous");
  platform::ReplacementFile file;
  ASSERT_TRUE(file.Create(dir.wpath() + u"/out"));
  Put(file.file(), "ours");
  const std::string temporary = Names(dir)[0];
  fs::rename(dir.Native(temporary), dir.Native("moved"));
  dir.WriteFile(temporary, "someone else's");
  const platform::Status committed = file.Commit();
  EXPECT_FALSE(committed);
  EXPECT_EQ(committed.error(), static_cast<uint32_t>(ESTALE));
  EXPECT_EQ(dir.ReadFile("out"), "previous");
  EXPECT_EQ(dir.ReadFile(temporary), "someone else's");
}
