// Decoding a compact patch's content blocks: member tables, chunks, frames
// made from the older files, and the checks of every content's id
// (errors located .\patchReader).
#include "engine/patch/content_decoder.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>

#include "engine/base/error_sites.h"
#include "engine/patch/packed_records.h"
#include "platform/encoding.h"

namespace torquelin {

namespace {

// Patch bytes are read, and decoded bytes handed on, in pieces of this size.
constexpr size_t kDecodePiece = size_t{1} << 20;
// Copies are read from the older files in pieces of this size.
constexpr size_t kCopyPiece = 65536;

constexpr char16_t kTableText[] = u"a member table";
constexpr char16_t kChunkText[] = u"a chunk";

[[noreturn]] void Damaged(const char16_t* what) { Raise(site::kCompactDamaged, what); }

bool HasBytes(ContentKind kind) { return kind != ContentKind::Copy; }

uint64_t ReadLength(RecordInput& in, const char16_t* what) {
  const int64_t value = ReadQword(in);
  if (value < 0) Damaged(what);
  return static_cast<uint64_t>(value);
}

// Adds without passing INT64_MAX, which no file or stream reaches.
uint64_t Sum(uint64_t a, uint64_t b, const char16_t* what) {
  if (b > static_cast<uint64_t>(INT64_MAX) - a) Damaged(what);
  return a + b;
}

// The state of one block's members while their bytes come in: which are
// done, which failed and why. Copies and empty files are handled where the
// table puts them, between the contents that have bytes.
class BlockDecoding {
 public:
  BlockDecoding(const std::vector<ContentMember>& members, ContentOpener& older, ContentOutput& out,
                bool tolerate)
      : members_(members), older_(older), out_(out), tolerate_(tolerate), states_(members.size()) {
    for (size_t i = 0; i < members.size(); ++i) {
      if (members[i].kind == ContentKind::Delta) {
        deltas_.push_back(i);
      } else {
        states_[i].referenceDone = true;
      }
    }
  }

  // The Delta members in table order: the parts of the reference stream.
  const std::vector<size_t>& deltas() const { return deltas_; }

  // The next n bytes of the content stream.
  void Deliver(const uint8_t* bytes, uint64_t n) { Take(bytes, n, nullptr); }
  // The next n bytes could not be made: every member they belong to fails
  // with the error `why` gives for it.
  void Skip(uint64_t n, const std::function<CZRErr(const ContentMember&)>& why) {
    Take(nullptr, n, &why);
  }

  void ReferenceDone(size_t part, bool matched) {
    const size_t i = deltas_[part];
    states_[i].referenceDone = true;
    if (!matched) Fail(i, CZRErr(site::kReferenceMismatch, members_[i].reference));
    Settle(i);
  }

  // After the last byte: the copies and empty files at the end.
  void Finish() { ReachNextWithBytes(); }

  std::vector<FailedContent> Failures() const {
    std::vector<FailedContent> failures;
    for (size_t i = 0; i < members_.size(); ++i) {
      if (states_[i].failure) failures.push_back({members_[i].path, *states_[i].failure});
    }
    return failures;
  }

 private:
  struct State {
    bool contentDone = false;
    bool contentMatched = false;
    bool referenceDone = false;
    std::optional<CZRErr> failure;
  };

  void Fail(size_t i, CZRErr error) {
    if (states_[i].failure) return;
    if (!tolerate_) throw error;
    states_[i].failure = std::move(error);
  }

  void Settle(size_t i) {
    const State& state = states_[i];
    if (state.contentDone && state.referenceDone && !state.contentMatched) {
      Fail(i, CZRErr(site::kContentIdMismatch, members_[i].path));
    }
  }

  void EndContent(size_t i, bool matched) {
    out_.End(members_[i]);
    states_[i].contentDone = true;
    states_[i].contentMatched = matched;
    Settle(i);
  }

  bool DigestMatches(size_t i) {
    Sha1Digest digest;
    Sha1Final(digest, digest_);
    return std::memcmp(digest, members_[i].id.data(), sizeof digest) == 0;
  }

  // Copies and empty files have no bytes in the stream: they are done on
  // the way to the next member that has, which is then begun.
  void ReachNextWithBytes() {
    while (next_ < members_.size() && !begun_) {
      const ContentMember& member = members_[next_];
      if (member.kind == ContentKind::Copy) {
        Copy(next_++);
        continue;
      }
      out_.Begin(member);
      Sha1Init(digest_);
      written_ = 0;
      if (member.length > 0) {
        begun_ = true;
        break;
      }
      const size_t i = next_++;
      EndContent(i, DigestMatches(i));
    }
  }

  void Take(const uint8_t* bytes, uint64_t n,
            const std::function<CZRErr(const ContentMember&)>* why) {
    while (n > 0) {
      ReachNextWithBytes();
      const size_t i = next_;
      const ContentMember& member = members_[i];
      const uint64_t take = std::min(n, member.length - written_);
      if (why != nullptr) {
        Fail(i, (*why)(member));
      } else {
        if (!states_[i].failure) {
          out_.Write(bytes, static_cast<size_t>(take));
          for (uint64_t done = 0; done < take;) {
            const uint32_t step = static_cast<uint32_t>(std::min<uint64_t>(take - done, 1u << 30));
            Sha1Update(digest_, bytes + done, step);
            done += step;
          }
        }
        bytes += take;
      }
      written_ += take;
      n -= take;
      if (written_ == member.length) {
        begun_ = false;
        ++next_;
        EndContent(i, why == nullptr && DigestMatches(i));
      }
    }
  }

  // A copy reads its older file whole; it must be the file the patch names.
  void Copy(size_t i) {
    const ContentMember& member = members_[i];
    out_.Begin(member);
    std::unique_ptr<ContentReader> source;
    if (tolerate_) {
      try {
        source = older_.Open(member.reference);
      } catch (const CZRErr&) {
        // Apply's tolerant mode: the copy fails below, nothing else.
      }
    } else {
      source = older_.Open(member.reference);
    }
    Sha1Init(digest_);
    uint64_t done = 0;
    bool matched = source != nullptr;
    while (matched && done < member.length) {
      const uint64_t want = std::min<uint64_t>(buffer_.size(), member.length - done);
      const uint64_t got = source->Read(buffer_.data(), want);
      if (got == 0) matched = false;
      Sha1Update(digest_, buffer_.data(), static_cast<uint32_t>(got));
      out_.Write(buffer_.data(), static_cast<size_t>(got));
      done += got;
    }
    if (matched) matched = source->Read(buffer_.data(), 1) == 0 && DigestMatches(i);
    out_.End(member);
    states_[i].contentDone = true;
    states_[i].contentMatched = true;
    if (!matched) Fail(i, CZRErr(site::kReferenceMismatch, member.reference));
  }

  const std::vector<ContentMember>& members_;
  ContentOpener& older_;
  ContentOutput& out_;
  bool tolerate_;
  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(kCopyPiece);  // for copies alone
  std::vector<State> states_;
  std::vector<size_t> deltas_;

  size_t next_ = 0;
  bool begun_ = false;
  uint64_t written_ = 0;  // of the begun member
  Sha1Context digest_;
};

}  // namespace

std::vector<ContentMember> ReadMemberTable(RecordInput& in, const OlderIdMap& olderIds,
                                           uint32_t& chunkCount) {
  ExpectTag(in, static_cast<RecordType>(CompactRecord::ContentBlock));
  PackedInput table(in, kMaxMemberTable, kTableText);
  ExpectTag(table, static_cast<RecordType>(CompactRecord::Members));
  std::vector<ContentMember> members;
  uint64_t content = 0;
  uint64_t reference = 0;
  for (uint32_t left = ReadDword(table); left > 0; --left) {
    ContentMember member;
    member.path = ReadString(table);
    const uint32_t kind = ReadDword(table);
    member.id = ReadDigest(table);
    member.length = ReadLength(table, kTableText);
    member.reference = ReadString(table);
    member.referenceLength = ReadLength(table, kTableText);
    if (kind >= kContentKindCount || member.path.empty() ||
        (!members.empty() && !(members.back().path < member.path))) {
      Damaged(kTableText);
    }
    member.kind = static_cast<ContentKind>(kind);
    const auto listed = olderIds.find(member.reference);
    switch (member.kind) {
      case ContentKind::Stored:
      case ContentKind::Compressed:
        if (!member.reference.empty() || member.referenceLength != 0) Damaged(kTableText);
        break;
      case ContentKind::Delta:
        if (listed == olderIds.end()) Damaged(kTableText);
        reference = Sum(reference, member.referenceLength, kTableText);
        break;
      case ContentKind::Copy:
        if (listed == olderIds.end() || listed->second != member.id ||
            member.referenceLength != 0) {
          Damaged(kTableText);
        }
        break;
    }
    if (HasBytes(member.kind)) content = Sum(content, member.length, kTableText);
    members.push_back(std::move(member));
  }
  table.Finish();
  chunkCount = ReadDword(in);
  return members;
}

ChunkHeader ReadChunkHeader(RecordInput& in) {
  ExpectTag(in, static_cast<RecordType>(CompactRecord::Chunk));
  ChunkHeader chunk;
  const uint32_t storage = ReadDword(in);
  chunk.referenceOffset = ReadLength(in, kChunkText);
  chunk.referenceLength = ReadLength(in, kChunkText);
  chunk.contentLength = ReadLength(in, kChunkText);
  chunk.size = ReadLength(in, kChunkText);
  chunk.storage = static_cast<ChunkStorage>(storage);
  const bool raw = chunk.storage == ChunkStorage::Raw;
  if (storage > static_cast<uint32_t>(ChunkStorage::Frame) || chunk.contentLength == 0 ||
      chunk.contentLength > kMaxChunkContent || chunk.referenceLength > kMaxChunkReference ||
      (raw && (chunk.referenceOffset != 0 || chunk.referenceLength != 0 ||
               chunk.size != chunk.contentLength)) ||
      (!raw && (chunk.size == 0 || chunk.size > FrameBound(chunk.contentLength)))) {
    Damaged(kChunkText);
  }
  return chunk;
}

ContentBlockDecoder::ContentBlockDecoder()
    : frames_(kMaxFrameWindowLog), input_(kDecodePiece), output_(kDecodePiece) {}

std::vector<FailedContent> ContentBlockDecoder::Decode(RecordInput& in, const OlderIdMap& olderIds,
                                                       ContentOpener& older, ContentOutput& out,
                                                       bool tolerate) {
  uint32_t chunkCount = 0;
  const std::vector<ContentMember> members = ReadMemberTable(in, olderIds, chunkCount);
  uint64_t total = 0;
  for (const ContentMember& member : members) {
    if (HasBytes(member.kind)) total += member.length;
  }
  BlockDecoding block(members, older, out, tolerate);
  std::vector<FileChain::Part> parts;
  for (size_t i : block.deltas()) {
    const ContentMember& member = members[i];
    parts.push_back({member.reference, member.referenceLength, olderIds.at(member.reference)});
  }
  FileChain references(older, parts,
                       [&](size_t part, bool matched) { block.ReferenceDone(part, matched); },
                       {.tolerateOpen = tolerate, .overlapping = true});

  uint64_t produced = 0;
  uint64_t lastStart = 0;  // of the reference range the last chunk used
  uint64_t lastEnd = 0;
  for (uint32_t k = 0; k < chunkCount; ++k) {
    const ChunkHeader chunk = ReadChunkHeader(in);
    const uint64_t referenceEnd = chunk.referenceOffset + chunk.referenceLength;
    if (chunk.contentLength > total - produced || referenceEnd > references.size() ||
        (chunk.referenceLength > 0 &&
         (chunk.referenceOffset < lastStart || referenceEnd < lastEnd))) {
      Damaged(kChunkText);
    }
    if (chunk.storage == ChunkStorage::Raw) {
      for (uint64_t left = chunk.size; left > 0;) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(left, input_.size()));
        ReadRaw(in, input_.data(), static_cast<int64_t>(piece));
        block.Deliver(input_.data(), piece);
        left -= piece;
      }
      produced += chunk.contentLength;
      continue;
    }

    const uint8_t* reference = nullptr;
    std::u16string failure;  // why the frame could not be decoded
    if (chunk.referenceLength > 0) {
      if (references.padded()) {
        // An older file ended early: its lack is never made up, at most one
        // window's worth, and what is made from it fails.
        for (uint64_t left = chunk.size; left > 0;) {
          const size_t piece = static_cast<size_t>(std::min<uint64_t>(left, input_.size()));
          ReadRaw(in, input_.data(), static_cast<int64_t>(piece));
          left -= piece;
        }
        const std::u16string& paddedPath = parts[references.firstPadded()].path;
        block.Skip(chunk.contentLength, [&](const ContentMember&) {
          return CZRErr(site::kReferenceMismatch, paddedPath);
        });
        produced += chunk.contentLength;
        continue;
      }
      reference = references.Window(chunk.referenceOffset, chunk.referenceLength);
      lastStart = chunk.referenceOffset;
      lastEnd = referenceEnd;
    }
    if (!frames_.Begin(reference, chunk.referenceLength)) {
      failure = platform::FromUtf8(frames_.error());
    }
    uint64_t made = 0;
    bool ended = false;
    for (uint64_t left = chunk.size; left > 0;) {
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(left, input_.size()));
      ReadRaw(in, input_.data(), static_cast<int64_t>(piece));
      left -= piece;
      if (!failure.empty()) continue;  // the rest of a damaged frame is read past
      // The header must name the chunk's size, so that the frame's own
      // buffer is never larger than the chunk.
      if (made == 0 && left + piece == chunk.size &&
          FrameContentSize(input_.data(), std::min(piece, kFrameHeaderMax)) !=
              static_cast<int64_t>(chunk.contentLength)) {
        failure = u"the frame names another size";
        continue;
      }
      size_t used = 0;
      while (failure.empty() && !ended) {
        const size_t usedBefore = used;
        size_t outUsed = 0;
        const size_t room =
            static_cast<size_t>(std::min<uint64_t>(output_.size(), chunk.contentLength - made + 1));
        const int state = frames_.Step(input_.data(), piece, &used, output_.data(), room, &outUsed);
        if (state < 0) {
          failure = platform::FromUtf8(frames_.error());
        } else if (made + outUsed > chunk.contentLength) {
          failure = u"the frame makes more than its size";
        } else {
          block.Deliver(output_.data(), outUsed);
          made += outUsed;
          ended = state == 0;
          if (ended && (used != piece || left != 0)) failure = u"the frame ends early";
          // It wants more input (or, having taken none and made nothing,
          // cannot go on without it).
          if ((used == piece && outUsed < room) || (used == usedBefore && outUsed == 0)) break;
        }
      }
    }
    if (failure.empty() && (!ended || made != chunk.contentLength)) {
      failure = u"the frame is cut short";
    }
    if (!failure.empty()) {
      block.Skip(chunk.contentLength - made, [&](const ContentMember& member) {
        return CZRErr(site::kContentUndecodable, member.path + u" (" + failure + u")");
      });
    }
    produced += chunk.contentLength;
  }
  if (produced != total) Damaged(kChunkText);
  references.Finish();
  block.Finish();
  return block.Failures();
}

}  // namespace torquelin
