#include "platform/files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>

#include "platform/paths.h"

namespace quillon {

bool pathExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

bool isExecutableFile(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return access(path.c_str(), X_OK) == 0;
}

namespace {

// The whole content of the regular file open at fd, from its start, within
// maxBytes, or why not; closes fd.
FileRead readOpenFile(int fd, size_t maxBytes) {
  struct stat st {};
  FileReadError refused = FileReadError::none;
  if (fstat(fd, &st) != 0)
    refused = FileReadError::unreadable;
  else if (!S_ISREG(st.st_mode))
    refused = FileReadError::notRegular;
  else if (static_cast<unsigned long long>(st.st_size) > maxBytes)
    refused = FileReadError::tooLarge;
  else if (lseek(fd, 0, SEEK_SET) != 0)
    refused = FileReadError::unreadable;
  if (refused != FileReadError::none) {
    close(fd);
    return {std::nullopt, refused};
  }
  std::string content;
  content.resize(static_cast<size_t>(st.st_size));
  size_t used = 0;
  for (;;) {
    if (used == content.size()) {
      // The file may have grown since fstat; read on, within the bound.
      if (content.size() >= maxBytes + 1) break;
      content.resize(std::min(maxBytes + 1, content.size() + 4096));
    }
    ssize_t n = read(fd, content.data() + used, content.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return {std::nullopt, FileReadError::unreadable};
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  close(fd);
  if (used > maxBytes) return {std::nullopt, FileReadError::tooLarge};
  content.resize(used);
  return {std::move(content), FileReadError::none};
}

}  // namespace

std::optional<std::string> readRegularFile(const std::string& path, size_t maxBytes) {
  return readRegularFileChecked(path, maxBytes).bytes;
}

FileRead readRegularFileChecked(const std::string& path, size_t maxBytes) {
  // O_NONBLOCK keeps a FIFO from blocking the open; it is refused below.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0)
    return {std::nullopt, errno == ENOENT || errno == ENOTDIR ? FileReadError::missing
                                                              : FileReadError::unreadable};
  return readOpenFile(fd, maxBytes);
}

int memoryFileHolding(std::string_view bytes) {
  int fd = memfd_create("quillon-launch-config", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) return -1;
  for (size_t done = 0; done < bytes.size();) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(fd);
      return -1;
    }
    done += static_cast<size_t>(n);
  }
  // Nobody can change it any more, not even through /proc.
  fcntl(fd, F_ADD_SEALS, F_SEAL_SEAL | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE);
  return fd;
}

std::optional<std::string> takeDescriptorContent(int fd, size_t maxBytes) {
  if (fd < 0) return std::nullopt;
  return readOpenFile(fd, maxBytes).bytes;
}

bool makeDirectories(const std::string& path) {
  if (path.empty()) return true;
  // Beyond the system's path limit nothing can be created; giving up at once
  // also spares creating a deep chain of directories that leads nowhere.
  if (path.size() >= PATH_MAX) return false;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  // Each missing directory from the top down, in a loop: a path of
  // thousands of components must not cost a frame each.
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string prefix = path.substr(0, slash);
    if (!prefix.empty() && prefix.back() != '/' && mkdir(prefix.c_str(), 0700) != 0 &&
        !(errno == EEXIST && stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
      return false;
    if (slash == std::string::npos) return true;
  }
}

namespace {

bool writeFile(const std::string& path, std::string_view bytes, bool synced) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) unlink(path.c_str());
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (synced && fsync(fd) != 0) {
    close(fd);
    return false;
  }
  return close(fd) == 0;
}

// The folder holding path, its entries written out.
bool syncFolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  close(fd);
  return synced;
}

bool replaceFile(const std::string& source, const std::string& destination, bool synced) {
  // Swapping the two names and unlinking the old file is as atomic for
  // readers as a rename over it, but a rename over an existing file makes
  // ext4 write the new data out at once, which costs a launch a noticeable
  // fraction of a millisecond. Neither way is durable without fsync: the
  // synced variant has written the data out before and the folder after.
  const char* from = source.c_str();
  const char* to = destination.c_str();
  // Without an old file (or where the file system cannot swap) a plain
  // rename does, and it refuses a directory at destination by itself.
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE) != 0) {
    if (rename(from, to) != 0) return false;
    return !synced || syncFolderOf(destination);
  }
  struct stat old {};
  if (lstat(from, &old) == 0 && S_ISDIR(old.st_mode)) {
    renameat2(AT_FDCWD, to, AT_FDCWD, from, RENAME_EXCHANGE);  // put the directory back
    return false;
  }
  unlink(from);
  return !synced || syncFolderOf(destination);
}

}  // namespace

bool writeNewFile(const std::string& path, std::string_view bytes) {
  return writeFile(path, bytes, false);
}

bool replaceWithFile(const std::string& source, const std::string& destination) {
  return replaceFile(source, destination, false);
}

bool writeNewFileSynced(const std::string& path, std::string_view bytes) {
  return writeFile(path, bytes, true);
}

bool replaceWithFileSynced(const std::string& source, const std::string& destination) {
  return replaceFile(source, destination, true);
}

std::optional<std::string> linkTarget(const std::string& path) {
  char buf[PATH_MAX];
  ssize_t n = readlink(path.c_str(), buf, sizeof buf);
  if (n < 0 || static_cast<size_t>(n) >= sizeof buf) return std::nullopt;
  return std::string(buf, static_cast<size_t>(n));
}

void writeStandardError(std::string_view bytes) {
  ssize_t ignored = write(STDERR_FILENO, bytes.data(), bytes.size());
  (void)ignored;
}

}  // namespace quillon
