// The apply journal: its text form, the names of staged files, and the
// locked file that holds it.
#include "engine/jobs/apply_journal.h"

#include <algorithm>
#include <random>

#include "engine/base/error_sites.h"
#include "engine/base/number_text.h"
#include "platform/encoding.h"
#include "platform/safe_path.h"
#include "platform/system_error.h"

namespace torquelin {

namespace {

constexpr char kFirstLine[] = "torquelin-journal 2";
constexpr char kHexDigits[] = "0123456789abcdef";
constexpr size_t kTokenLength = 16;
constexpr char16_t kStagedPrefix[] = u".tq-";

// A path or name as one word of a line: UTF-8, with every byte a line or a
// word could not hold (blanks, controls, '%') written as %XX.
std::string Escape(const std::u16string& text) {
  std::string out;
  for (const char c : platform::ToUtf8(text)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F || byte == '%') {
      out += '%';
      out += kHexDigits[byte >> 4];
      out += kHexDigits[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

bool IsHex(const std::string& text) {
  return !text.empty() && text.find_first_not_of(kHexDigits) == std::string::npos;
}

// The value of one word, or nothing when it is not one Escape could have
// written; a value holding a control character (which a message would put
// on the user's terminal) is refused too.
std::optional<std::u16string> Unescape(const std::string& word) {
  std::string bytes;
  for (size_t i = 0; i < word.size(); ++i) {
    const auto byte = static_cast<unsigned char>(word[i]);
    if (byte <= 0x20 || byte == 0x7F) return std::nullopt;
    if (byte != '%') {
      bytes += word[i];
      continue;
    }
    if (i + 2 >= word.size() || !IsHex(word.substr(i + 1, 2))) return std::nullopt;
    bytes += static_cast<char>(std::stoi(word.substr(i + 1, 2), nullptr, 16));
    i += 2;
  }
  std::u16string text = platform::FromUtf8(bytes);
  if (std::any_of(text.begin(), text.end(),
                  [](char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); })) {
    return std::nullopt;
  }
  return text;
}

std::optional<uint64_t> Number(const std::string& text, int base) {
  if (text.empty() || text.size() > 16 ||
      text.find_first_not_of(base == 16 ? kHexDigits : "0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return std::stoull(text, nullptr, base);
}

std::optional<std::u16string> PathOfWord(const std::string& word) {
  auto path = Unescape(word);
  if (!path || !platform::IsSafeRelativePath(*path)) return std::nullopt;
  return path;
}

}  // namespace

std::string JournalPreamble(std::optional<uint32_t> root) {
  std::string text = std::string(kFirstLine) + "\n";
  if (root) text += "root " + platform::ToUtf8(HexText(*root)) + "\n";
  return text;
}

std::string JournalText(const JournalRecord& record) {
  const PatchIdentity& p = record.patch;
  std::string text = JournalPreamble(record.root);
  text += "older " + Escape(p.olderId) + "\n";
  text += "newer " + Escape(p.newerId) + "\n";
  text += "size " + std::to_string(p.size) + "\n";
  text += "digest " + Escape(p.digest) + "\n";
  text += "patch " + Escape(p.path) + "\n";
  text += "token " + record.token + "\n";
  for (const OpenedDirectory& opened : record.opened) {
    text += "opened " + Escape(opened.path) + " " + platform::ToUtf8(HexText(opened.word)) + "\n";
  }
  text += "end\n";
  return text;
}

std::string JournalCommitText(const std::vector<uint32_t>& unstaged) {
  std::string text;
  for (const uint32_t index : unstaged) text += "skip " + std::to_string(index) + "\n";
  return text + "commit\n";
}

ParsedJournal ParseJournal(const std::string& bytes) {
  ParsedJournal parsed;
  if (bytes.empty()) return parsed;
  // Every line but a last one cut short by a crash ends in a line feed.
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(bytes.substr(start, end - start));
  }
  const std::string tail = bytes.substr(start);
  const auto invalid = [&] {
    parsed.kind = ParsedJournal::Kind::Invalid;
    return parsed;
  };
  if (lines.empty()) {
    return std::string(kFirstLine).rfind(tail, 0) == 0 ? parsed : invalid();
  }
  if (lines[0] != kFirstLine) return invalid();

  JournalRecord& record = parsed.record;
  const char* const kHead[] = {"older", "newer", "size", "digest", "patch", "token"};
  size_t i = 1;
  if (i < lines.size() && lines[i].rfind("root ", 0) == 0) {
    const auto word = Number(lines[i].substr(5), 16);
    if (!word || *word > 0xFFFFFFFF) return invalid();
    record.root = static_cast<uint32_t>(*word);
    ++i;
  }
  for (const char* key : kHead) {
    if (i == lines.size()) return parsed;  // cut short: nothing staged yet
    const std::string& line = lines[i++];
    const size_t blank = line.find(' ');
    if (line.substr(0, blank) != key || blank == std::string::npos) return invalid();
    const std::string word = line.substr(blank + 1);
    if (std::string(key) == "size") {
      const auto size = Number(word, 10);
      if (!size) return invalid();
      record.patch.size = static_cast<int64_t>(*size);
      continue;
    }
    if (std::string(key) == "token") {
      if (word.size() != kTokenLength || !IsHex(word)) return invalid();
      record.token = word;
      continue;
    }
    const auto value = Unescape(word);
    if (!value) return invalid();
    std::u16string& field = std::string(key) == "older"    ? record.patch.olderId
                            : std::string(key) == "newer"  ? record.patch.newerId
                            : std::string(key) == "digest" ? record.patch.digest
                                                           : record.patch.path;
    field = *value;
  }
  for (;; ++i) {
    if (i == lines.size()) return parsed;
    const std::string& line = lines[i];
    if (line == "end") break;
    const size_t first = line.find(' ');
    const size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    if (line.substr(0, first) != "opened" || second == std::string::npos) return invalid();
    const auto path = PathOfWord(line.substr(first + 1, second - first - 1));
    const auto word = Number(line.substr(second + 1), 16);
    if (!path || !word || *word > 0xFFFFFFFF) return invalid();
    record.opened.push_back({*path, static_cast<uint32_t>(*word)});
  }
  parsed.kind = ParsedJournal::Kind::Record;
  // After the end line: the commit, appended in one write. Without its own
  // last line it had not begun.
  std::vector<uint32_t> unstaged;
  for (++i; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line == "commit") {
      if (i + 1 != lines.size() || !tail.empty()) return invalid();
      record.committing = true;
      record.unstaged = std::move(unstaged);
      return parsed;
    }
    const auto index = line.rfind("skip ", 0) == 0 ? Number(line.substr(5), 10) : std::nullopt;
    if (!index || *index > 0xFFFFFFFF) return invalid();
    unstaged.push_back(static_cast<uint32_t>(*index));
  }
  return parsed;
}

std::string NewStagingToken() {
  std::random_device device;
  const uint64_t value = (uint64_t{device()} << 32) ^ device();
  std::string token;
  for (int shift = 60; shift >= 0; shift -= 4) token += kHexDigits[(value >> shift) & 15];
  return token;
}

StagingPlaces::StagingPlaces(const std::vector<std::u16string>& newDirs) {
  std::vector<const std::u16string*> sorted;
  for (const std::u16string& directory : newDirs) sorted.push_back(&directory);
  const auto less = [](const std::u16string* a, const std::u16string* b) { return *a < *b; };
  if (!std::is_sorted(sorted.begin(), sorted.end(), less)) {
    std::sort(sorted.begin(), sorted.end(), less);
  }
  // A parent sorts before everything below it, so each directory's place is
  // its parent's place, or its parent, found once.
  waitIn_.reserve(sorted.size());
  for (const std::u16string* directory : sorted) {
    std::u16string parent = directory->substr(0, directory->rfind(u'\\'));
    const auto above = Find(parent);
    waitIn_.emplace_back(*directory, above != nullptr ? *above : std::move(parent));
  }
}

const std::u16string* StagingPlaces::Find(const std::u16string& directory) const {
  const auto at = std::lower_bound(
      waitIn_.begin(), waitIn_.end(), directory,
      [](const auto& entry, const std::u16string& key) { return entry.first < key; });
  return at != waitIn_.end() && at->first == directory ? &at->second : nullptr;
}

std::u16string StagingPlaces::PathFor(const std::u16string& path, const std::string& token,
                                      size_t index) const {
  std::u16string parent = path.substr(0, path.rfind(u'\\'));
  if (const std::u16string* place = Find(parent)) parent = *place;
  std::u16string name = parent + u"\\" + kStagedPrefix;
  name.append(token.begin(), token.end());
  name += u"." + DecimalText(static_cast<int64_t>(index));
  return name;
}

ApplyJournal::ApplyJournal(const platform::DirectoryHandle& target, const std::u16string& directory,
                           bool create, std::optional<uint32_t> openedRoot)
    : target_(target),
      directory_(directory),
      path_(directory + u"\\" + kApplyJournalName),
      root_(openedRoot) {
  platform::OwnFile found = platform::OwnFile::Missing;
  // A journal made for a root this run opened holds the root's word from
  // its first moment.
  const std::string preamble = root_ ? JournalPreamble(root_) : std::string();
  const platform::Status opened =
      target_.OpenOwnFile(kApplyJournalName, create, preamble, found, file_);
  if (!opened) {
    if (platform::IsLockHeld(opened.error())) Raise(site::kApplyBusy, directory, opened.error());
    Fail(opened.error());
  }
  if (found == platform::OwnFile::Foreign) Raise(site::kApplyJournalInvalid, path_);
  if (found == platform::OwnFile::Missing) return;
  platform::EntryStatus status;
  const platform::Status looked = target_.Stat(std::u16string(u"\\") + kApplyJournalName, status);
  if (!looked) Fail(looked.error());
  entry_ = {kApplyJournalName, status.id};
  owner_ = status.owner;
  if (!create) keep_ = true;
  std::string bytes;
  char chunk[65536];
  platform::Result<uint64_t> got = uint64_t{0};
  // A journal is a few hundred bytes; one far larger is nobody's journal.
  while ((got = file_.Read(chunk, sizeof chunk)) && *got > 0 && bytes.size() < (size_t{16} << 20)) {
    bytes.append(chunk, static_cast<size_t>(*got));
  }
  if (!got) Fail(got.error());
  ParsedJournal parsed = ParseJournal(bytes);
  if (parsed.kind == ParsedJournal::Kind::Invalid || *got > 0) {
    keep_ = true;
    file_.Close();
    Raise(site::kApplyJournalInvalid, path_);
  }
  const bool rootRecorded = parsed.record.root == root_;
  if (!root_) root_ = parsed.record.root;
  if (parsed.kind == ParsedJournal::Kind::Record) {
    pending_ = std::move(parsed.record);
  } else if (create && root_ && !rootRecorded) {
    // From here until the run ends, the root's mode is never unrecorded.
    CutToPreamble();
  }
  if (pending_ && pending_->committing) state_ = State::Committing;
}

ApplyJournal::~ApplyJournal() {
  if (!file_.IsOpen()) return;
  if (state_ == State::Staging) {
    for (const std::u16string& staged : staged_) (void)target_.Remove(staged);
    // Cut back to the preamble, which this run wrote.
    (void)file_.Truncate(static_cast<int64_t>(Preamble().size()));
    state_ = State::Idle;
  }
  if (state_ == State::Idle && !keep_) {
    // Removed while still locked, so no other run can take it meanwhile;
    // and only while it is still the file this run holds.
    platform::EntryStatus status;
    if (target_.Stat(std::u16string(u"\\") + kApplyJournalName, status) && status.id == entry_.id) {
      if (beforeRemoval_) beforeRemoval_();
      (void)target_.Remove(std::u16string(u"\\") + kApplyJournalName);
    }
  }
}

void ApplyJournal::Fail(uint32_t code) { Raise(site::kApplyJournal, path_, code); }

void ApplyJournal::RefusePending() {
  keep_ = true;
  Raise(site::kApplyJournalInvalid, path_);
}

std::string ApplyJournal::Preamble() const {
  return root_ ? JournalPreamble(root_) : std::string();
}

void ApplyJournal::CutToPreamble() {
  const std::string preamble = Preamble();
  std::string head(preamble.size(), '\0');
  const platform::Result<int64_t> start = file_.Seek(0);
  if (!start) Fail(start.error());
  platform::Result<uint64_t> read = uint64_t{0};
  if (!preamble.empty()) read = file_.Read(head.data(), head.size());
  // Written afresh only where it starts otherwise (another run's root word).
  if (!read || *read != head.size() || head != preamble) {
    const platform::Result<int64_t> again = file_.Seek(0);
    if (!again) Fail(again.error());
    const platform::Status written = file_.Write(preamble.data(), preamble.size());
    if (!written) Fail(written.error());
  }
  const platform::Status cut = file_.Truncate(static_cast<int64_t>(preamble.size()));
  if (!cut) Fail(cut.error());
  const platform::Status synced = file_.Sync();
  if (!synced) Fail(synced.error());
}

void ApplyJournal::Append(const std::string& bytes) {
  const platform::Result<int64_t> end = file_.SeekToEnd();
  if (!end) Fail(end.error());
  const platform::Status written = file_.Write(bytes.data(), bytes.size());
  if (!written) Fail(written.error());
  const platform::Status synced = file_.Sync();
  if (!synced) Fail(synced.error());
}

void ApplyJournal::DropStaleStaging(const std::vector<std::u16string>& staged) {
  if (!pending_) return;
  for (const std::u16string& path : staged) {
    platform::EntryStatus status;
    const platform::Status looked = target_.Stat(path, status);
    if (!looked) {
      if (platform::IsMissingEntry(looked.error())) continue;
      Raise(site::kRemoveFile, directory_ + path, looked.error());
    }
    if (status.isDirectory || status.links != 1 || status.owner != owner_) {
      keep_ = true;
      Raise(site::kApplyStagedInTheWay, directory_ + path);
    }
    const platform::Status removed = target_.Remove(path);
    if (!removed && !platform::IsMissingEntry(removed.error())) {
      Raise(site::kRemoveFile, directory_ + path, removed.error());
    }
  }
  CutToPreamble();
  pending_.reset();
  state_ = State::Idle;
}

int64_t ApplyJournal::FileSystemNow() {
  if (!file_.IsOpen()) Fail(0);
  const platform::Result<int64_t> now = file_.Touch();
  if (!now) Fail(now.error());
  return *now;
}

void ApplyJournal::Begin(const JournalRecord& record, const std::vector<std::u16string>& staged) {
  // From the first byte on, a failure removes whatever was staged.
  staged_ = staged;
  state_ = State::Staging;
  JournalRecord withRoot = record;
  withRoot.root = root_;
  CutToPreamble();
  Append(JournalText(withRoot).substr(Preamble().size()));
  const platform::Status synced = target_.SyncSelf();
  if (!synced) Fail(synced.error());
}

void ApplyJournal::Commit(const std::vector<std::u16string>& written,
                          const std::vector<uint32_t>& unstaged) {
  std::vector<std::u16string> directories;
  for (const std::u16string& staged : written) {
    directories.push_back(staged.substr(0, staged.rfind(u'\\')));
  }
  std::sort(directories.begin(), directories.end());
  directories.erase(std::unique(directories.begin(), directories.end()), directories.end());
  const platform::Status synced = target_.SyncEntries(written, directories);
  if (!synced) Fail(synced.error());
  Append(JournalCommitText(unstaged));
  state_ = State::Committing;
}

void ApplyJournal::Resume() {
  pending_.reset();
  state_ = State::Committing;
}

void ApplyJournal::Finish(const std::vector<std::u16string>& directories) {
  const platform::Status synced = target_.SyncEntries({}, directories);
  if (!synced) Fail(synced.error());
  CutToPreamble();
  state_ = State::Idle;
  staged_.clear();
}

}  // namespace torquelin
