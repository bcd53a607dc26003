// Profile hygiene: deleting the previous session's tabs and chosen kinds of
// stored site data from the profile before the engine opens it. Deletion is
// quiet: every failure is ignored and never stops the next item.
#pragma once

#include <map>
#include <string>

namespace quillon {

// The engine's singleton lock in the user data directory ("SingletonLock", a
// link to "HOST-PID") names a process that is alive on this host: an engine
// runs on this profile, and its open files must not be deleted under it.
bool profileInUse(const std::string& userDataDir);

// Deletes the session files and "Sessions" of <userDataDir>/Default.
void clearPreviousTabs(const std::string& userDataDir);

// Deletes the storage kinds set to true ("all" selects every kind).
void resetGranularStorage(const std::string& userDataDir, const std::map<std::string, bool>& kinds);

// Deletes <userDataDir>/Default/<relative>.
void removeProfileItem(const std::string& userDataDir, const std::string& relative);

// Deletes base/relative (a file, or a directory with its contents). No path
// component below base may be a symbolic link, so nothing outside base is
// ever reached; a link standing at the item itself is removed as a link.
void removeQuietly(const std::string& base, const std::string& relative);

}  // namespace quillon
