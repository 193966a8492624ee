// The directory handle: every operation stays beneath its directory and
// never follows a link, with openat2 and with the per-component fallback.
#include "platform/directory_handle.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/encoding.h"
#include "platform/fault_injection.h"
#include "tests/support/temp_dir.h"

using namespace torquelin;

namespace fs = std::filesystem;
using platform::DirectoryHandle;
using platform::fault_injection::Failing;
using platform::fault_injection::FaultPoint;

namespace {

// Every entry below root with its mode and content (or link target).
std::string Listing(const std::string& root) {
  std::string out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    struct stat st;
    lstat(e.path().c_str(), &st);
    out += e.path().string() + " " + std::to_string(st.st_mode) + " ";
    if (S_ISLNK(st.st_mode)) out += fs::read_symlink(e.path()).string();
    if (S_ISREG(st.st_mode)) out += std::to_string(fs::file_size(e.path()));
    out += "\n";
  }
  return out;
}

// What a call gave, without its value.
template <typename T>
platform::Status StatusOf(const platform::Result<T>& result) {
  if (result) return {};
  return platform::Failure{result.error()};
}

// The handle with openat2, then with openat2 refused as an old kernel does.
template <typename Fn>
void InBothResolutionModes(Fn fn) {
  for (const bool fallback : {false, true}) {
    SCOPED_TRACE(fallback ? "component by component" : "openat2");
    if (fallback)
      platform::fault_injection::Arm(FaultPoint::Openat2, 1, ENOSYS, Failing::FromThenOn);
    fn();
    platform::fault_injection::DisarmAll();
  }
}

}  // namespace

TEST(DirectoryHandle, NothingThroughALinkIsEverTouched) {
  InBothResolutionModes([] {
    TempDir base;
    base.WriteFile("outside/file", "sentinel");
    base.WriteFile("t/sub/f", "in the tree");
    const std::string outside = base.Native("outside");
    ASSERT_EQ(symlink(outside.c_str(), base.Native("t/out").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/file").c_str(), base.Native("t/flink").c_str()), 0);
    const std::string before = Listing(outside);

    DirectoryHandle handle;
    ASSERT_TRUE(handle.Open(base.wpath() + u"/t"));
    platform::EntryStatus status;
    struct Case {
      const char* name;
      std::function<platform::Status()> op;
    } cases[] = {
        {"stat", [&] { return handle.Stat(u"\\out\\file", status); }},
        {"remove", [&] { return handle.Remove(u"\\out\\file"); }},
        {"make directory", [&] { return handle.MakeDirectory(u"\\out\\new"); }},
        {"create file", [&] { return StatusOf(handle.CreateFile(u"\\out\\new")); }},
        {"rename out", [&] { return handle.Rename(u"\\sub\\f", u"\\out\\f"); }},
        {"rename in", [&] { return handle.Rename(u"\\out\\file", u"\\sub\\g"); }},
        {"mode through a directory link",
         [&] { return handle.SetMode(u"\\out\\file", 0x8FFF0020); }},
        {"mode of a link to a file", [&] { return handle.SetMode(u"\\flink", 0x8FFF0020); }},
        {"make link", [&] { return handle.MakeLink(u"\\out\\l", "x"); }},
    };
    for (const Case& c : cases) {
      const platform::Status done = c.op();
      EXPECT_FALSE(done) << c.name;
      EXPECT_EQ(done.error(), static_cast<uint32_t>(ELOOP)) << c.name;
    }
    // A link at the last component is the entry it is.
    ASSERT_TRUE(handle.Stat(u"\\flink", status));
    EXPECT_TRUE(status.isLink);
    EXPECT_EQ(status.word, 0xA1FF0420u);
    const auto inTheWay = handle.CreateFile(u"\\flink");
    EXPECT_FALSE(inTheWay);
    EXPECT_EQ(inTheWay.error(), static_cast<uint32_t>(EEXIST));
    EXPECT_TRUE(handle.Remove(u"\\out"));
    EXPECT_TRUE(handle.Remove(u"\\flink"));
    EXPECT_EQ(Listing(outside), before);
  });
}

// What apply does, in the fallback mode too (the apply tests run openat2).
TEST(DirectoryHandle, ChangesBeneathItsDirectory) {
  InBothResolutionModes([] {
    TempDir dir;
    dir.WriteFile("a/old", "x");
    DirectoryHandle handle;
    ASSERT_TRUE(handle.Open(dir.wpath()));
    ASSERT_TRUE(handle.MakeDirectory(u"\\a\\b"));
    const auto file = handle.CreateFile(u"\\a\\b\\f");
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->Write("data", 4));
    ASSERT_TRUE(handle.SetMode(u"\\a\\b\\f", 0x81240021));
    ASSERT_TRUE(handle.Rename(u"\\a\\b\\f", u"\\a\\old"));
    platform::EntryStatus status;
    ASSERT_TRUE(handle.Stat(u"\\a\\old", status));
    EXPECT_EQ(status.word, 0x81240021u);
    EXPECT_EQ(dir.ReadFile("a/old"), "data");
    ASSERT_TRUE(handle.MakeLink(u"\\a\\b\\l", "../../anywhere"));
    EXPECT_EQ(fs::read_symlink(dir.Native("a/b/l")), "../../anywhere");
    EXPECT_FALSE(handle.MakeLink(u"\\a\\nul", std::string("a\0b", 3)));
    bool wasDirectory = true;
    EXPECT_TRUE(handle.Remove(u"\\a\\b\\l", &wasDirectory));
    EXPECT_FALSE(wasDirectory);
    EXPECT_TRUE(handle.Remove(u"\\a\\b", &wasDirectory));
    EXPECT_TRUE(wasDirectory);
  });
  EXPECT_TRUE(platform::ResolvesInOneCall());
}

// Deeper than one call can name: the handle goes a component at a time.
TEST(DirectoryHandle, NoPathLengthLimit) {
  TempDir dir;
  DirectoryHandle handle;
  ASSERT_TRUE(handle.Open(dir.wpath()));
  const std::u16string name = u"\\" + std::u16string(40, u'n');
  std::u16string path;
  for (int i = 0; i < 150; ++i) ASSERT_TRUE(handle.MakeDirectory(path += name)) << i;
  ASSERT_GT(path.size(), 4096u);
  ASSERT_TRUE(handle.CreateFile(path + u"\\f"));
  ASSERT_TRUE(handle.Remove(path + u"\\f"));
  for (; !path.empty(); path.resize(path.size() - name.size())) ASSERT_TRUE(handle.Remove(path));
}

// Flushing many files runs on several threads: links are passed over, and
// a missing file in the middle fails the call with its errno.
TEST(DirectoryHandle, SyncEntriesFlushesOrSaysWhyNot) {
  for (const size_t count : {size_t{3}, size_t{200}}) {
    for (const char16_t* odd : {u"\\d\\link", u"\\d\\missing"}) {
      SCOPED_TRACE(platform::ToUtf8(odd) + ", " + std::to_string(count) + " files");
      TempDir dir;
      std::vector<std::u16string> files;
      for (size_t i = 0; i < count; ++i) {
        dir.WriteFile("d/f" + std::to_string(i), std::string(i, 'x'));
        files.push_back(u"\\d\\f" + platform::FromUtf8(std::to_string(i)));
      }
      fs::create_symlink("f0", dir.Native("d/link"));
      files.insert(files.begin() + count / 2, odd);
      DirectoryHandle handle;
      ASSERT_TRUE(handle.Open(dir.wpath()));
      const bool missing = std::u16string(odd).find(u"missing") != std::u16string::npos;
      const platform::Status synced = handle.SyncEntries(files, {u"", u"\\d", u"\\gone"});
      EXPECT_EQ(synced.ok(), !missing);
      if (missing) {
        EXPECT_EQ(synced.error(), static_cast<uint32_t>(ENOENT));
      }
    }
  }
}
