// Helpers shared by the patch-file tests: literal bytes, files of bytes, and
// catching the engine's error text.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

#include "engine/base/errors.h"
#include "tests/support/test_sink.h"

namespace torquelin {

// A byte string from literal byte values, for golden comparisons.
inline std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

// Hex dump, so a failed golden comparison shows where the bytes differ.
inline std::string Hex(const std::string& bytes) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) out += (i % 16 == 0) ? '\n' : ' ';
    out += kDigits[static_cast<unsigned char>(bytes[i]) >> 4];
    out += kDigits[static_cast<unsigned char>(bytes[i]) & 15];
  }
  return out;
}

inline void WriteBytes(const std::string& nativePath, const std::string& bytes) {
  std::ofstream out(nativePath, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::string ReadBytes(const std::string& nativePath) {
  std::ifstream in(nativePath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs fn and returns the message of the CZRErr it raises ("<no error>" when
// it returns normally).
template <typename Fn>
std::string ErrorOf(Fn&& fn) {
  try {
    fn();
  } catch (const CZRErr& e) {
    return Narrow(e.message);
  }
  return "<no error>";
}

}  // namespace torquelin
