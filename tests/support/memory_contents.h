// Trees held in memory for the compact codec's tests: an opener over a map
// of contents, ids of byte strings, and contents that compress or do not.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/base/error_sites.h"
#include "engine/hash/sha1.h"
#include "engine/patch/compact_sections.h"
#include "engine/patch/content_decoder.h"
#include "engine/patch/content_encoder.h"
#include "engine/patch/content_files.h"

namespace torquelin {

inline FileId IdOf(const std::string& bytes) {
  Sha1Context context;
  Sha1Init(context);
  Sha1Update(context, bytes.data(), static_cast<uint32_t>(bytes.size()));
  Sha1Digest digest;
  Sha1Final(digest, context);
  FileId id;
  std::memcpy(id.data(), digest, id.size());
  return id;
}

// Relative path -> content. Reads come in pieces of at most 5000 bytes, so
// that readers meet short reads as they do from files. A missing path
// raises the reader's open error, naming "mem:" + path.
class MemoryOpener : public ContentOpener {
 public:
  std::unique_ptr<ContentReader> Open(const std::u16string& relativePath) override {
    const auto found = files.find(relativePath);
    if (found == files.end()) Raise(site::kReaderOpen, Describe(relativePath));
    return std::make_unique<Reader>(found->second);
  }
  std::u16string Describe(const std::u16string& relativePath) const override {
    return u"mem:" + relativePath;
  }
  std::map<std::u16string, std::string> files;

 private:
  class Reader : public ContentReader {
   public:
    explicit Reader(std::string bytes) : bytes_(std::move(bytes)) {}
    uint64_t Read(uint8_t* buffer, uint64_t n) override {
      const size_t take = std::min<size_t>({n, 5000, bytes_.size() - next_});
      std::memcpy(buffer, bytes_.data() + next_, take);
      next_ += take;
      return take;
    }

   private:
    std::string bytes_;
    size_t next_ = 0;
  };
};

// Bytes no compressor shrinks.
inline std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator());
  return bytes;
}

// Text that compresses well but differs from seed to seed.
inline std::string SampleText(size_t size, unsigned seed) {
  static const char* kWords[] = {"function ", "return ",  "const ", "value", "(x) ",
                                 "{ ",        "} ",       "index",  "; ",    "\n",
                                 "export ",   "default ", "this.",  "=> "};
  std::mt19937 generator(seed);
  std::string text;
  while (text.size() < size) text += kWords[generator() % 14];
  text.resize(size);
  return text;
}

// Collects what a decoder hands out, by path.
class CollectingOutput : public ContentOutput {
 public:
  void Begin(const ContentMember& member) override {
    current_ = &contents[member.path];
    kinds[member.path] = member.kind;
  }
  void Write(const uint8_t* bytes, size_t size) override {
    current_->append(reinterpret_cast<const char*>(bytes), size);
  }
  void End(const ContentMember&) override { current_ = nullptr; }

  std::map<std::u16string, std::string> contents;
  std::map<std::u16string, ContentKind> kinds;

 private:
  std::string* current_ = nullptr;
};

// Two trees in memory and the requests a writer makes of them.
struct MemoryTrees {
  MemoryOpener older;
  MemoryOpener newer;
  OlderIdMap olderIds;
  std::vector<ContentRequest> requests;

  // A changed file (a delta of its older version), or a new one when
  // `before` is null, or a copy of `copyOf`.
  void Add(const std::u16string& path, const std::string& after, const std::string* before,
           const std::u16string& copyOf = {}) {
    newer.files[path] = after;
    ContentRequest request{path, IdOf(after), after.size(), ContentKind::Compressed, {}, {}, 0};
    if (!copyOf.empty()) {
      request.kind = ContentKind::Copy;
      request.reference = copyOf;
      request.referenceId = IdOf(older.files.at(copyOf));
    } else if (before != nullptr) {
      older.files[path] = *before;
      request.kind = ContentKind::Delta;
      request.reference = path;
      request.referenceId = IdOf(*before);
      request.referenceLength = before->size();
    }
    if (request.kind != ContentKind::Compressed) {
      olderIds[request.reference] = request.referenceId;
    }
    requests.push_back(request);
  }
};

}  // namespace torquelin
