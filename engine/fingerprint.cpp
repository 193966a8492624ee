// ComputeFileIds and ComputeFingerprint.
#include "engine/fingerprint.h"

#include <algorithm>
#include <vector>

#include "engine/fsops.h"
#include "engine/number_text.h"
#include "engine/sha1.h"

namespace {

// Feeds text as little-endian UTF-16 code units, whatever the host's order.
void UpdateWithText(Sha1Context& context, const std::u16string& text,
                    std::vector<uint8_t>& bytes) {
  bytes.resize(text.size() * 2);
  for (size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  Sha1Update(context, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

uint32_t AttributesOf(const CDirSnapshot& snapshot, const std::u16string& path) {
  const auto it = snapshot.attributes.find(path);
  return it == snapshot.attributes.end() ? 0 : it->second;
}

}  // namespace

void ComputeFileIds(CProgressSink& progress, CDirSnapshot& snapshot) {
  progress.SetStatus(u"Calculating file ids...");
  progress.SetRange(static_cast<uint32_t>(snapshot.files.size()));
  progress.ResetProgress();
  // Reused for every file so that the loop allocates only what the id map
  // itself needs.
  std::u16string detail;
  std::u16string fullPath;
  Sha1Context context;
  Sha1Digest digest;
  for (const std::u16string& path : snapshot.files) {
    detail.assign(u"Processing: ").append(path);
    progress.SetDetail(detail);
    fullPath.assign(snapshot.root).append(path);
    Sha1Init(context);
    DigestFileContent(progress, fullPath, context);
    Sha1Final(digest, context);
    snapshot.fileIds.insert_or_assign(path, DigestToHex(digest));
    progress.Step();
  }
}

std::u16string ComputeFingerprint(CProgressSink& progress, CDirSnapshot& snapshot) {
  Sha1Context context;
  Sha1Init(context);
  progress.SetStatus(u"Calculating directory fingerprint...");
  progress.SetRange(static_cast<uint32_t>(snapshot.files.size() + snapshot.directories.size()));
  progress.ResetProgress();
  std::sort(snapshot.files.begin(), snapshot.files.end());
  std::sort(snapshot.directories.begin(), snapshot.directories.end());

  std::u16string text;
  std::vector<uint8_t> bytes;
  // The word is written as a signed 32-bit number: a word with the top bit
  // set (every POSIX regular file) contributes a '-'.
  const auto feed = [&](const std::u16string& path, const std::u16string* id) {
    text.assign(path).append(DecimalText(static_cast<int32_t>(AttributesOf(snapshot, path))));
    if (id != nullptr) text.append(*id);
    UpdateWithText(context, text, bytes);
    progress.Step();
  };
  for (const std::u16string& path : snapshot.directories) feed(path, nullptr);
  for (const std::u16string& path : snapshot.files) {
    const auto id = snapshot.fileIds.find(path);
    feed(path, id == snapshot.fileIds.end() ? nullptr : &id->second);
  }
  Sha1Digest digest;
  Sha1Final(digest, context);
  return DigestToHex(digest);
}
