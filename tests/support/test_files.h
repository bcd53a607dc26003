// Test helpers: a private temporary directory and whole-file access.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace quillon::test {

// A fresh directory in the temporary directory, removed with its contents.
struct TempDir {
  TempDir() : path_(std::filesystem::temp_directory_path() / "quillon-test-XXXXXX") {
    if (!mkdtemp(path_.data())) throw std::runtime_error("mkdtemp failed");
  }
  ~TempDir() { std::filesystem::remove_all(path_, ignored_); }
  const std::string& path() const { return path_; }
  std::string operator/(std::string_view relative) const { return path_ + "/" += relative; }

 private:
  std::string path_;
  std::error_code ignored_;
};

// Writes bytes to path, creating missing parent directories.
inline void writeFile(const std::string& path, std::string_view bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The whole file, or "<missing>" when it cannot be read.
inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return in ? content.str() : "<missing>";
}

// Something (a dangling link included) stands at path.
inline bool exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

}  // namespace quillon::test
