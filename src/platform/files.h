// File-system primitives for the launcher. Every descriptor opened here is
// close-on-exec, so nothing of the launcher's own leaks into the engine.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// Something exists at the path (symbolic links followed).
bool pathExists(const std::string& path);

// The path names a regular file (links followed) that this user may execute.
bool isExecutableFile(const std::string& path);

// The whole content of a regular file of at most maxBytes bytes. A missing
// file, a FIFO, a device, a directory or a larger file gives no value.
std::optional<std::string> readRegularFile(const std::string& path, size_t maxBytes);

// Why readRegularFile gave no value, for the tools that say so.
enum class FileReadError { none, missing, notRegular, tooLarge, unreadable };

struct FileRead {
  std::optional<std::string> bytes;
  FileReadError error = FileReadError::none;  // none exactly when bytes holds a value
};

// readRegularFile with its reason.
FileRead readRegularFileChecked(const std::string& path, size_t maxBytes);

// A new anonymous file in memory (never on disk) that holds bytes, sealed
// against any change, open close-on-exec at its start; -1 when it cannot be
// made. It is how a process hands data to the program it executes.
int memoryFileHolding(std::string_view bytes);

// The whole content of the regular file open at descriptor fd (read from its
// start, at most maxBytes), then closes fd; no value when it cannot be read.
std::optional<std::string> takeDescriptorContent(int fd, size_t maxBytes);

// Creates the directory and any missing parents, readable by the owner alone
// (0700); an existing directory is fine. A path at or beyond PATH_MAX fails.
bool makeDirectories(const std::string& path);

// Writes bytes to a new file at path, readable by the owner alone (0600),
// replacing a file or link standing there.
bool writeNewFile(const std::string& path, std::string_view bytes);

// Moves the file at source over destination in one step, so that a reader
// finds the old file or the new one and nothing in between. Fails, leaving
// both alone, when a directory stands at destination.
bool replaceWithFile(const std::string& source, const std::string& destination);

// The same two for a file that must survive a crash or a power loss at any
// moment: the bytes are on the disk before the file replaces the old one, and
// the folder's new entry is on the disk before the replacement returns, so the
// path holds the old file or the new one, whole, whenever the machine stops.
// Each costs the disk's flushes; the reports use the two above.
bool writeNewFileSynced(const std::string& path, std::string_view bytes);
bool replaceWithFileSynced(const std::string& source, const std::string& destination);

// The target of the symbolic link at path; none when there is no link.
std::optional<std::string> linkTarget(const std::string& path);

// Writes the bytes to standard error in a single write, unbuffered.
void writeStandardError(std::string_view bytes);

}  // namespace quillon
