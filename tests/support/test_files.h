// Test helpers: a private temporary directory and whole-file access.
#pragma once

#include <string>
#include <string_view>

namespace quillon::test {

// A fresh directory under $TMPDIR (or /tmp), removed with its contents when
// the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(std::string_view relative) const { return path_ + "/" += relative; }

 private:
  std::string path_;
};

// Writes bytes to path, creating missing parent directories.
void writeFile(const std::string& path, std::string_view bytes);

// The whole file, or "<missing>" when it cannot be read.
std::string readFile(const std::string& path);

// Something (a dangling link included) stands at path.
bool exists(const std::string& path);

}  // namespace quillon::test
