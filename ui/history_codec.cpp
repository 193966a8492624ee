// Stored form and most-recently-used rules of a field's history.
#include "ui/history_codec.h"

#include <algorithm>

namespace torquelin {

namespace {

void PutU16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  PutU16(out, v & 0xFFFF);
  PutU16(out, v >> 16);
}

// A bounds-checked cursor over the stored bytes: every read says whether the
// bytes were there, so damaged data can never lead outside the buffer.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool U8(uint32_t& v) {
    if (size_ - pos_ < 1) return false;
    v = data_[pos_++];
    return true;
  }
  bool U16(uint32_t& v) {
    if (size_ - pos_ < 2) return false;
    v = static_cast<uint32_t>(data_[pos_]) | static_cast<uint32_t>(data_[pos_ + 1]) << 8;
    pos_ += 2;
    return true;
  }
  bool U32(uint32_t& v) {
    uint32_t lo = 0, hi = 0;
    if (size_ - pos_ < 4) return false;
    U16(lo);
    U16(hi);
    v = lo | hi << 16;
    return true;
  }
  bool Text(uint32_t units, std::u16string& out) {
    if ((size_ - pos_) / 2 < units) return false;
    out.resize(units);
    for (uint32_t i = 0; i < units; ++i) {
      out[i] = static_cast<char16_t>(data_[pos_] | data_[pos_ + 1] << 8);
      pos_ += 2;
    }
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

bool ReadEntry(ByteReader& in, std::u16string& out) {
  uint32_t b = 0, w = 0;
  if (!in.U8(b) || b != kUnicodeTag[0] || !in.U16(w) || w != 0xFFFE) return false;
  uint32_t length = 0;
  if (!in.U8(length)) return false;
  if (length == 0xFF) {
    if (!in.U16(length)) return false;
    if (length == 0xFFFE) return false;  // the tag again: not a length
    if (length == 0xFFFF && !in.U32(length)) return false;
  }
  return in.Text(length, out);
}

}  // namespace

std::vector<uint8_t> EncodeHistory(const HistoryList& list) {
  std::vector<uint8_t> out;
  const size_t count = list.size();
  if (count < 0xFFFF) {
    PutU16(out, static_cast<uint32_t>(count));
  } else {
    PutU16(out, 0xFFFF);
    PutU32(out, static_cast<uint32_t>(count));
  }
  for (const std::u16string& text : list) {
    out.insert(out.end(), std::begin(kUnicodeTag), std::end(kUnicodeTag));
    const size_t length = text.size();
    if (length < 0xFF) {
      out.push_back(static_cast<uint8_t>(length));
    } else if (length < 0xFFFE) {
      out.push_back(0xFF);
      PutU16(out, static_cast<uint32_t>(length));
    } else {
      out.push_back(0xFF);
      PutU16(out, 0xFFFF);
      PutU32(out, static_cast<uint32_t>(length));
    }
    for (char16_t unit : text) PutU16(out, unit);
  }
  return out;
}

std::optional<HistoryList> DecodeHistory(const uint8_t* data, size_t size) {
  if (size > kMaxHistoryBytes || (data == nullptr && size != 0)) return std::nullopt;
  ByteReader in(data, size);
  uint32_t count = 0;
  if (!in.U16(count)) return std::nullopt;
  if (count == 0xFFFF && !in.U32(count)) return std::nullopt;
  HistoryList list;
  for (uint32_t i = 0; i < count; ++i) {
    std::u16string text;
    if (!ReadEntry(in, text)) return std::nullopt;
    if (list.size() < kMaxHistoryEntries) list.push_back(std::move(text));
  }
  return list;
}

void RecordHistoryUse(HistoryList& list, const std::u16string& value) {
  auto same = std::find(list.begin(), list.end(), value);
  if (same != list.end()) list.erase(same);
  list.insert(list.begin(), value);
  if (list.size() > kMaxHistoryEntries) list.resize(kMaxHistoryEntries);
}

}  // namespace torquelin
