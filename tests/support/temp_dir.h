// A temporary directory for one test, removed with everything in it.
#pragma once

#include <string>

namespace torquelin {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Native path of the directory (no trailing '/').
  const std::string& path() const { return path_; }
  // The same path as engine text.
  std::u16string wpath() const;
  // Native path of a name below the directory ("a/b.txt").
  std::string Native(const std::string& relative) const { return path_ + "/" + relative; }

  // Helpers that build a tree: parents are created as needed.
  void WriteFile(const std::string& relative, const std::string& content) const;
  void MakeDir(const std::string& relative) const;
  std::string ReadFile(const std::string& relative) const;

 private:
  std::string path_;
};

}  // namespace torquelin
