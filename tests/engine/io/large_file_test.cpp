// The large-file reader on sizes past 4 GiB and on paths that are not there.
#include "engine/io/large_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <utility>

#include "engine/base/errors.h"
#include "engine/hash/sha1.h"
#include "engine/io/file_system.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

using namespace torquelin;

TEST(LargeFile, SparseFileBeyondFourGiBHasItsFullSizeAndDigest) {
  TempDir dir;
  const int64_t size = 4294967296LL + 5;
  // Marker bytes on both sides of a 2 MiB chunk boundary and of the 4 GiB
  // line, and the very last byte; zeros (holes) everywhere else.
  const std::pair<int64_t, char> marks[] = {{2097151, 0x11},
                                            {2097152, 0x22},
                                            {4294967295LL, 0x33},
                                            {4294967296LL, 0x44},
                                            {size - 1, 0x55}};
  {
    const int fd = open(dir.Native("big").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    for (const auto& [at, byte] : marks) ASSERT_EQ(pwrite(fd, &byte, 1, at), 1);
    close(fd);
  }
  const std::u16string path = dir.wpath() + u"/big";
  zrFile::Reader reader(path);
  reader.seek(12345);
  EXPECT_EQ(reader.size(), size);
  EXPECT_EQ(reader.tell(), 12345);
  EXPECT_FALSE(reader.eof());
  reader.seek(size);
  EXPECT_TRUE(reader.eof());

  RecordingSink sink;
  Sha1Context context;
  Sha1Init(context);
  DigestFileContent(sink, path, context);
  Sha1Digest digest;
  Sha1Final(digest, context);
  EXPECT_EQ(DigestToHex(digest), u"f1725d3ce29589f8b5cfc3cfe410d141dc19e366");
}

TEST(LargeFile, ReaderOnAMissingPathNamesIt) {
  try {
    zrFile::Reader reader(u"/no/such/file");
    ADD_FAILURE();
  } catch (const CZRErr& e) {
    EXPECT_EQ(e.message, u"Unable to ioen file:/no/such/file");
    EXPECT_STREQ(e.file, ".\\fileReader");
  }
}
