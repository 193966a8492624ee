// The patch record primitives: exact bytes written, exact errors on short
// writes. (Reading damaged records is tested on whole patches.)
#include "engine/patch/patch_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <vector>

#include "tests/support/patch_test_util.h"
#include "tests/support/temp_dir.h"

using namespace torquelin;

namespace {

// Runs the writes into a fresh file and returns the file's bytes.
std::string Written(const std::function<void(RecordOutput&)>& writes) {
  TempDir dir;
  {
    zrFile::Writer out(dir.wpath() + u"/p.dov");
    DirectOutput direct(out);
    writes(direct);
  }
  return ReadBytes(dir.Native("p.dov"));
}

}  // namespace

TEST(PatchStream, RecordsAreWrittenByteExact) {
  struct Case {
    const char* name;
    std::function<void(RecordOutput&)> write;
    std::string bytes;
  } cases[] = {
      {"string ab", [](auto& o) { WriteString(o, u"ab"); },
       Bytes({0x10, 0x11, 0x02, 0x00, 0x00, 0x00, 0x61, 0x00, 0x62, 0x00})},
      {"empty string", [](auto& o) { WriteString(o, u""); },
       Bytes({0x10, 0x11, 0x00, 0x00, 0x00, 0x00})},
      {"string stops at NUL", [](auto& o) { WriteString(o, std::u16string(u"a\0b", 3)); },
       Bytes({0x10, 0x11, 0x01, 0x00, 0x00, 0x00, 0x61, 0x00})},
      {"non-BMP text as surrogates", [](auto& o) { WriteString(o, u"\U0001F600"); },
       Bytes({0x10, 0x11, 0x02, 0x00, 0x00, 0x00, 0x3D, 0xD8, 0x00, 0xDE})},
      {"dword with bit 31", [](auto& o) { WriteDword(o, 0x81A40020); },
       Bytes({0x11, 0x20, 0x00, 0xA4, 0x81})},
      {"qword above 4 GiB", [](auto& o) { WriteQword(o, 0x123456789AB); },
       Bytes({0x14, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01, 0x00, 0x00})},
      {"negative qword", [](auto& o) { WriteQword(o, -2); },
       Bytes({0x14, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
  };
  for (const Case& c : cases) EXPECT_EQ(Hex(Written(c.write)), Hex(c.bytes)) << c.name;
}

// A writer whose descriptor is a non-blocking pipe with one page of room:
// the kernel itself accepts part of a write and refuses the rest, so the
// primitives see real short counts without any mock.
class PipeWriter : public zrFile::Writer {
 public:
  PipeWriter(const std::u16string& path, int pipeWriteEnd) : zrFile::Writer(path) {
    adopt(platform::FileHandle(pipeWriteEnd));
  }
};

// 200 string records through a buffer, each 6 + 2 * size(text) bytes: tag,
// count (tag and 4 bytes), then the text.
std::function<void(zrFile::Writer&)> WriteStrings(std::u16string text) {
  return [text](zrFile::Writer& w) {
    BufferedOutput o(w);
    for (int i = 0; i < 200; ++i) WriteString(o, text);
    o.Flush();
  };
}

TEST(PatchStream, ShortWritesFailWithTheirOwnMessage) {
  struct Case {
    const char* name;
    int prefill;  // bytes already in the pipe
    std::function<void(zrFile::Writer&)> write;
    const char* message;
  } cases[] = {
      {"raw 2 MiB into one page", 0,
       [](auto& w) {
         std::vector<char> b(2097152);
         WriteRaw(w, b.data(), 2097152);
       },
       "Unable write buffer to a patch. exp:2097152 actual:4096"},
      {"raw into a full pipe", 4096, [](auto& w) { WriteRaw(w, "ab", 2); },
       "Unable write buffer to a patch. exp:2 actual:-1"},
      {"tag into a full pipe", 4096,
       [](auto& w) {
         DirectOutput o(w);
         WriteTag(o, RecordType::String);
       },
       "Unable write a type to a patch."},
      {"dword after its tag", 4095,
       [](auto& w) {
         DirectOutput o(w);
         WriteDword(o, 7);
       },
       "Unable write DWORD to a patch."},
      {"qword after its tag", 4095,
       [](auto& w) {
         DirectOutput o(w);
         WriteQword(o, 7);
       },
       "Unable write DWORD a patch."},
      // A buffered block that does not get out whole fails with the message
      // of the first record piece cut short, not the block's: 4096 bytes of
      // 26-byte records end 8 bytes into a text, of 44-byte ones 4 bytes into
      // a count.
      {"buffered records, cut in a text", 0, WriteStrings(u"\\some\\path"),
       "Unable write buffer to a patch. exp:20 actual:8"},
      {"buffered records, cut in a count", 0, WriteStrings(u"\\some\\longer\\path\\x"),
       "Unable write DWORD to a patch."},
      {"buffered records, nothing out", 4096, WriteStrings(u"\\a"),
       "Unable write a type to a patch."},
  };
  for (const Case& c : cases) {
    TempDir dir;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    if (::fcntl(fds[1], F_SETPIPE_SZ, 4096) != 4096) {
      ::close(fds[0]);
      ::close(fds[1]);
      GTEST_SKIP() << "pipes here do not take a 4096-byte size";
    }
    std::string fill(c.prefill, 'x');
    ASSERT_EQ(::write(fds[1], fill.data(), fill.size()), c.prefill);
    {
      PipeWriter out(dir.wpath() + u"/p.dov", fds[1]);
      EXPECT_EQ(ErrorOf([&] { c.write(out); }), c.message) << c.name;
    }
    ::close(fds[0]);
  }
}

TEST(PatchStream, StoredTextEndsAtItsFirstNul) {
  TempDir dir;
  dir.WriteFile("s", Bytes({0x10, 0x11, 0x03, 0x00, 0x00, 0x00, 0x61, 0x00, 0x00, 0x00, 0x62, 0x00,
                            0x11, 0x07, 0x00, 0x00, 0x00}));
  zrFile::Reader reader(dir.wpath() + u"/s");
  DirectInput in(reader);
  EXPECT_EQ(ReadString(in), u"a");
  EXPECT_EQ(ReadDword(in), 7u);  // the rest of the record was read past
}
