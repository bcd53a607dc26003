// Where things are on this platform: the launcher's own directory, the user's
// home and the per-user folder that holds the launch configuration and reports.
#pragma once

#include <string>

namespace quillon {

// Directory that holds the running launcher executable (empty if unknown).
std::string launcherDirectory();

// $HOME when set and non-empty, else the home of the user's /etc/passwd entry.
std::string homeDirectory();

// Per-user application folder: $XDG_CONFIG_HOME/Quillon when that variable is
// an absolute path, else <home>/.config/Quillon.
std::string appSupportDirectory();

// The current working directory ("" when it cannot be read).
std::string currentDirectory();

// Joins a directory and a relative name the way file URLs do: an empty
// directory leaves the name relative to the current directory.
std::string joinPath(const std::string& dir, const std::string& name);

// The path with its "." and ".." segments removed lexically, the way file
// URLs resolve them ("/a/./b/../c" is "/a/c"; ".." at the root stays there).
std::string withoutDotSegments(const std::string& path);

// The directory part of a path ("" for a bare name, "/" for "/x").
std::string parentPath(const std::string& path);

}  // namespace quillon
