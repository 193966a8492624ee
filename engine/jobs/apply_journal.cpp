// The apply journal: its text form, and the locked file that holds it.
#include "engine/jobs/apply_journal.h"

#include <algorithm>
#include <sstream>

#include "engine/base/error_sites.h"
#include "engine/base/number_text.h"
#include "engine/tree/walker.h"
#include "platform/encoding.h"
#include "platform/files.h"
#include "platform/system_error.h"

namespace {

constexpr char kFirstLine[] = "torquelin-journal 1";
constexpr char kHexDigits[] = "0123456789abcdef";

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

std::optional<std::u16string> Unescape(const std::string& word) {
  std::string bytes;
  for (size_t i = 0; i < word.size(); ++i) {
    if (word[i] != '%') {
      bytes += word[i];
      continue;
    }
    if (i + 2 >= word.size()) return std::nullopt;
    const std::string hex = word.substr(i + 1, 2);
    if (hex.find_first_not_of(kHexDigits) != std::string::npos) return std::nullopt;
    bytes += static_cast<char>(std::stoi(hex, nullptr, 16));
    i += 2;
  }
  return platform::FromUtf8(bytes);
}

}  // namespace

std::string JournalText(const JournalRecord& record) {
  const PatchIdentity& p = record.patch;
  std::string text = std::string(kFirstLine) + "\n";
  text += "older " + Escape(p.olderId) + "\n";
  text += "newer " + Escape(p.newerId) + "\n";
  text += "size " + std::to_string(p.size) + "\n";
  text += "digest " + Escape(p.digest) + "\n";
  text += "patch " + Escape(p.path) + "\n";
  for (const StagedFile& file : record.files) {
    text += "stage " + Escape(file.staged) + " " + Escape(file.path) + "\n";
  }
  text += "end\n";
  return text;
}

std::optional<JournalRecord> ParseJournal(const std::string& bytes) {
  std::istringstream in(bytes);
  std::string line;
  if (!std::getline(in, line) || line != kFirstLine) return std::nullopt;
  JournalRecord record;
  bool ended = false;
  while (std::getline(in, line)) {
    // A line without its line feed was cut short by a crash.
    if (in.eof()) break;
    const size_t blank = line.find(' ');
    const std::string key = line.substr(0, blank);
    const std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
    if (ended) {
      if (line + "\n" == kJournalCommitLine) record.committing = true;
      continue;
    }
    if (key == "end") {
      ended = true;
      continue;
    }
    if (key == "stage") {
      const size_t split = rest.find(' ');
      if (split == std::string::npos) return std::nullopt;
      const auto staged = Unescape(rest.substr(0, split));
      const auto path = Unescape(rest.substr(split + 1));
      if (!staged || !path) return std::nullopt;
      record.files.push_back({*path, *staged});
      continue;
    }
    const auto value = Unescape(rest);
    if (!value) return std::nullopt;
    if (key == "older") {
      record.patch.olderId = *value;
    } else if (key == "newer") {
      record.patch.newerId = *value;
    } else if (key == "size") {
      record.patch.size = std::strtoll(rest.c_str(), nullptr, 10);
    } else if (key == "digest") {
      record.patch.digest = *value;
    } else if (key == "patch") {
      record.patch.path = *value;
    } else {
      return std::nullopt;
    }
  }
  if (!ended) return std::nullopt;
  return record;
}

ApplyJournal::ApplyJournal(const platform::DirectoryHandle& target, const std::u16string& directory,
                           bool create)
    : target_(target), directory_(directory), path_(directory + u"\\" + kApplyJournalName) {
  descriptor_ = target_.OpenLocked(kApplyJournalName, create);
  if (descriptor_ < 0) {
    if (platform::LastErrorIsLockHeld()) Raise(site::kApplyBusy, directory);
    if (!create && platform::LastErrorIsMissingEntry()) return;
    Fail();
  }
  if (!create) keep_ = true;
  std::string bytes;
  char chunk[65536];
  int64_t n = 0;
  while ((n = platform::ReadDescriptor(descriptor_, chunk, sizeof chunk)) > 0) {
    bytes.append(chunk, static_cast<size_t>(n));
  }
  if (n < 0) Fail();
  pending_ = ParseJournal(bytes);
  if (pending_ && pending_->committing) state_ = State::Committing;
}

ApplyJournal::~ApplyJournal() {
  if (descriptor_ < 0) return;
  if (state_ == State::Staging) {
    for (const StagedFile& file : staged_) target_.Remove(file.staged);
    platform::TruncateDescriptor(descriptor_, 0);
    state_ = State::Idle;
  }
  if (state_ == State::Idle && !keep_) {
    // Removed while still locked, so no other run can take it meanwhile.
    target_.Remove(std::u16string(u"\\") + kApplyJournalName);
  }
  platform::CloseDescriptor(descriptor_);
}

void ApplyJournal::Fail() { Raise(site::kApplyJournal, path_); }

void ApplyJournal::Write(const std::string& bytes, bool append) {
  if (!append && (!platform::TruncateDescriptor(descriptor_, 0) ||
                  platform::SeekDescriptor(descriptor_, 0) != 0)) {
    Fail();
  }
  if (append && platform::SeekDescriptorToEnd(descriptor_) < 0) Fail();
  if (platform::WriteDescriptor(descriptor_, bytes.data(), bytes.size()) !=
          static_cast<int64_t>(bytes.size()) ||
      !platform::SyncDescriptor(descriptor_)) {
    Fail();
  }
}

void ApplyJournal::DropStaleStaging() {
  if (!pending_) return;
  for (const StagedFile& file : pending_->files) {
    if (!target_.Remove(file.staged) && !platform::LastErrorIsMissingEntry()) {
      Raise(site::kRemoveFile, directory_ + file.staged);
    }
  }
  Write({}, false);
  pending_.reset();
  state_ = State::Idle;
}

int64_t ApplyJournal::FileSystemNow() {
  int64_t now = 0;
  if (descriptor_ < 0 || !platform::TouchDescriptor(descriptor_, now)) Fail();
  return now;
}

void ApplyJournal::Begin(const JournalRecord& record) {
  // From the first byte on, a failure removes whatever was staged.
  staged_ = record.files;
  state_ = State::Staging;
  Write(JournalText(record), false);
  if (!target_.SyncSelf()) Fail();
}

void ApplyJournal::Commit(const std::vector<StagedFile>& files) {
  std::vector<std::u16string> staged, directories;
  for (const StagedFile& file : files) {
    staged.push_back(file.staged);
    directories.push_back(file.staged.substr(0, file.staged.rfind(u'\\')));
  }
  std::sort(directories.begin(), directories.end());
  directories.erase(std::unique(directories.begin(), directories.end()), directories.end());
  if (!target_.SyncEntries(staged, directories)) Fail();
  Write(kJournalCommitLine, true);
  state_ = State::Committing;
}

void ApplyJournal::Resume() {
  pending_.reset();
  state_ = State::Committing;
}

void ApplyJournal::Finish(const std::vector<std::u16string>& directories) {
  if (!target_.SyncEntries({}, directories)) Fail();
  Write({}, false);
  state_ = State::Idle;
  staged_.clear();
}
