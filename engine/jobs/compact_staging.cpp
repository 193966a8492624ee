// Apply's side of a compact patch: loading it, reading older files beneath
// the target, and staging or checking every content in one pass.
#include "engine/jobs/compact_staging.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "engine/base/error_sites.h"
#include "engine/base/number_text.h"
#include "engine/io/file_system.h"
#include "engine/jobs/apply_journal.h"
#include "engine/patch/compact_sections.h"
#include "engine/patch/patch_stream.h"
#include "platform/safe_path.h"
#include "platform/system_error.h"

namespace torquelin {

namespace {

// A link's target text is at most this long on the systems we run on
// (PATH_MAX less its terminating zero); the classic extraction holds the
// same limit.
constexpr size_t kLongestLinkTarget = 4095;

// At most this many files are named when a target is not the older tree.
constexpr size_t kNamedDifferences = 10;

class FileContentReader : public ContentReader {
 public:
  explicit FileContentReader(platform::FileHandle file) : file_(std::move(file)) {}
  uint64_t Read(uint8_t* buffer, uint64_t n) override {
    const platform::Result<uint64_t> got = file_.Read(buffer, n);
    return got ? *got : 0;  // the caller's length and id checks tell
  }

 private:
  platform::FileHandle file_;
};

class TextContentReader : public ContentReader {
 public:
  explicit TextContentReader(std::string text) : text_(std::move(text)) {}
  uint64_t Read(uint8_t* buffer, uint64_t n) override {
    const uint64_t take = std::min<uint64_t>(n, text_.size() - at_);
    std::memcpy(buffer, text_.data() + at_, static_cast<size_t>(take));
    at_ += static_cast<size_t>(take);
    return take;
  }

 private:
  std::string text_;
  size_t at_ = 0;
};

// The error for a staged entry that could not be made with `code`: a
// symbolic link met on the way is named as such.
CZRErr StagingError(const ErrorSite& usual, const std::u16string& destination, uint32_t code) {
  if (platform::IsLinkInTheWay(code)) return CZRErr(site::kApplyThroughLink, destination, code);
  return CZRErr(usual, destination, code);
}

// Passes every content by, showing which is being checked.
class CheckingOutput : public ContentOutput {
 public:
  explicit CheckingOutput(CProgressSink& progress) : progress_(progress) {}
  void Begin(const ContentMember& member) override {
    progress_.Step();
    progress_.SetDetail(u"Checking: " + member.path);
  }
  void Write(const uint8_t*, size_t) override {}
  void End(const ContentMember&) override {}

 private:
  CProgressSink& progress_;
};

size_t PlaceOf(const std::vector<StoredFile>& files, const std::u16string& path) {
  const auto at =
      std::lower_bound(files.begin(), files.end(), path,
                       [](const StoredFile& f, const std::u16string& p) { return f.path < p; });
  if (at == files.end() || at->path != path) Raise(site::kCompactDamaged, u"the file index");
  return static_cast<size_t>(at - files.begin());
}

}  // namespace

bool IsCompactPatch(const std::u16string& patchPath) {
  if (patchPath.empty()) return false;
  try {
    zrFile::Reader reader(patchPath);
    DirectInput in(reader);
    return ReadPatchMagic(in) == PatchFormat::Compact;
  } catch (const CZRErr&) {
    return false;
  }
}

ChangeSet LoadCompactPatch(CProgressSink& progress, const std::u16string& patchPath,
                           CompactSource& source) {
  zrFile::Reader reader(patchPath);
  {
    DirectInput in(reader);
    (void)ReadPatchMagic(in);
  }
  source.info = ReadCompactPatchInfo(reader, progress);
  return std::exchange(source.info.head.changes, ChangeSet());
}

std::vector<StoredFile> CompactStoredFiles(const CompactSource& source) {
  std::vector<StoredFile> files;
  files.reserve(source.info.index.size());
  for (const auto& [path, offset] : source.info.index) {
    const auto content = source.contents.find(path);
    const int64_t length =
        content == source.contents.end() ? 0 : static_cast<int64_t>(content->second.length);
    files.push_back({path, offset, length, std::nullopt});
  }
  return files;
}

ContentIds CompactContentIds(const CompactSource& source, const std::vector<StoredFile>& files) {
  ContentIds ids(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    const auto content = source.contents.find(files[i].path);
    if (content != source.contents.end()) ids[i] = content->second.id;
  }
  return ids;
}

std::unique_ptr<ContentReader> TargetContentOpener::Open(const std::u16string& relativePath) {
  platform::EntryStatus status;
  const platform::Status looked = target_.Stat(relativePath, status);
  if (!looked) Raise(site::kReaderOpen, Describe(relativePath), looked.error());
  if (status.isLink) {
    platform::Result<std::string> text = target_.ReadLink(relativePath);
    if (!text) Raise(site::kReaderOpen, Describe(relativePath), text.error());
    return std::make_unique<TextContentReader>(std::move(*text));
  }
  platform::Result<platform::FileHandle> file = target_.OpenFile(relativePath);
  if (!file) Raise(site::kReaderOpen, Describe(relativePath), file.error());
  return std::make_unique<FileContentReader>(std::move(*file));
}

std::u16string TargetContentOpener::Describe(const std::u16string& relativePath) const {
  return directory_ + u"\\" + relativePath;
}

std::vector<FailedContent> DecodeCompactContents(zrFile::Reader& reader,
                                                 const CompactSource& source, ContentOpener& older,
                                                 ContentOutput& out, bool tolerate) {
  // One forward pass: block after block, each read to its end.
  ContentBlockDecoder decoder;
  std::vector<FailedContent> failures;
  PositionedInput in(reader, source.info.contentStart);
  while (in.position() < source.info.indexOffset) {
    std::vector<FailedContent> failed =
        decoder.Decode(in, source.info.head.olderIds, older, out, tolerate);
    std::move(failed.begin(), failed.end(), std::back_inserter(failures));
  }
  if (in.position() != source.info.indexOffset) Raise(site::kCompactDamaged, u"a content block");
  return failures;
}

StagingOutput::StagingOutput(CProgressSink& progress, const platform::DirectoryHandle& target,
                             const std::u16string& directory, const ChangeSet& patch,
                             const std::vector<StoredFile>& files,
                             const std::vector<std::u16string>& staged, bool tolerate)
    : progress_(progress),
      target_(target),
      directory_(directory),
      patch_(patch),
      files_(files),
      staged_(staged),
      tolerate_(tolerate),
      failures_(files.size()),
      ended_(files.size(), false) {}

void StagingOutput::Begin(const ContentMember& member) {
  current_ = PlaceOf(files_, member.path);
  progress_.Step();
  progress_.SetDetail(u"Staging: " + member.path);
  asLink_ = CarriedAsLink(patch_, member.path);
  linkTarget_.clear();
  if (asLink_) return;
  // A new name needs no room; nothing at the destination changes.
  platform::Result<platform::FileHandle> created = target_.CreateFile(staged_[current_], 0600);
  if (!created) {
    Refuse(StagingError(site::kWriterOpen, directory_ + u"\\" + member.path, created.error()));
    return;
  }
  file_ = std::move(*created);
}

void StagingOutput::Write(const uint8_t* bytes, size_t size) {
  if (failures_[current_]) return;
  if (asLink_) {
    // A link's target is made whole at the end: a short one must never
    // stand in for it.
    if (linkTarget_.size() + size > kLongestLinkTarget) {
      Refuse(CZRErr(site::kExtractWrite, directory_ + u"\\" + files_[current_].path));
      return;
    }
    linkTarget_.append(reinterpret_cast<const char*>(bytes), size);
    return;
  }
  const platform::Status written = file_.Write(bytes, size);
  if (!written) {
    Refuse(
        CZRErr(site::kExtractWrite, directory_ + u"\\" + files_[current_].path, written.error()));
  }
}

void StagingOutput::End(const ContentMember&) {
  file_.Close();
  if (!failures_[current_] && asLink_) {
    const platform::Status made = target_.MakeLink(staged_[current_], linkTarget_);
    if (!made) {
      Refuse(StagingError(site::kWriterOpen, directory_ + u"\\" + files_[current_].path,
                          made.error()));
    }
  }
  ended_[current_] = true;
}

void StagingOutput::Refuse(CZRErr error) {
  file_.Close();
  if (!tolerate_) throw error;
  failures_[current_] = std::move(error);
}

void StagingOutput::Fail(const std::u16string& path, const CZRErr& error) {
  const size_t i = PlaceOf(files_, path);
  if (!failures_[i]) failures_[i] = error;
}

std::optional<CZRErr> StagingOutput::Failure(size_t i) const {
  if (failures_[i]) return failures_[i];
  if (!ended_[i]) return CZRErr(site::kCompactDamaged, u"the file index");
  return std::nullopt;
}

ContentIds CheckCompactContents(CProgressSink& progress, zrFile::Reader& reader,
                                const CompactSource& source, ContentOpener& older,
                                std::vector<StoredFile>& files, bool tolerate) {
  progress.SetStatus(u"Checking the patch's contents.");
  progress.SetRange(static_cast<uint32_t>(files.size()));
  CheckingOutput out(progress);
  ContentIds ids = CompactContentIds(source, files);
  for (FailedContent& failed : DecodeCompactContents(reader, source, older, out, tolerate)) {
    const size_t i = PlaceOf(files, failed.path);
    ids[i].reset();
    if (!files[i].damage) files[i].damage = std::move(failed.error);
  }
  return ids;
}

void CheckOlderPaths(const OlderIdMap& olderIds, const CIgnoreFilter& filter) {
  const std::u16string journal = std::u16string(u"\\") + kApplyJournalName;
  std::u16string matched;
  for (const auto& [path, id] : olderIds) {
    if (!platform::IsSafeRelativePath(path)) Raise(site::kApplyUnsafePath, path);
    if (path == journal) Raise(site::kApplyReservedPath, path);
    if (filter.MatchSelfOrAncestor(path, matched)) Raise(site::kApplyIgnoredPath, path);
  }
}

std::u16string DescribeWrongTarget(const CDirSnapshot& tree, const std::vector<FileId>& ids,
                                   const OlderIdMap& olderIds) {
  std::vector<size_t> order(tree.files.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return tree.files[a] < tree.files[b]; });
  std::vector<std::u16string> lines;
  size_t differing = 0;
  for (const auto& [path, expected] : olderIds) {
    const auto at =
        std::lower_bound(order.begin(), order.end(), path,
                         [&](size_t i, const std::u16string& p) { return tree.files[i] < p; });
    const char16_t* how = nullptr;
    if (at == order.end() || tree.files[*at] != path) {
      how = u"missing: ";
    } else if (*at >= ids.size() || ids[*at] != expected) {
      how = u"changed: ";
    }
    if (how == nullptr) continue;
    if (++differing <= kNamedDifferences) lines.push_back(how + path);
  }
  if (differing == 0) return {};
  std::u16string text = u"\nFiles that are not as the patch expects them:";
  for (const std::u16string& line : lines) text += u"\n  " + line;
  if (differing > kNamedDifferences) {
    text +=
        u"\n  and " + DecimalText(static_cast<int64_t>(differing - kNamedDifferences)) + u" more";
  }
  return text;
}

}  // namespace torquelin
