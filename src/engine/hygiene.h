// Profile hygiene: deleting the previous session's tabs and chosen kinds of
// stored site data from the profile before the engine opens it. Deletion is
// quiet: every failure is ignored and never stops the next item.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

// The engine's singleton lock in the user data directory ("SingletonLock", a
// link to "HOST-PID") names a process that is alive on this host: an engine
// runs on this profile, and its open files must not be deleted under it.
bool profileInUse(const std::string& userDataDir);

// The process id that lock names, when it is alive on this host.
std::optional<long> profileEnginePid(const std::string& userDataDir);

// Why hygiene does not run before this launch: no user data directory (or an
// empty one) is given, or an engine runs on the profile; none when it runs.
enum class HygieneSkip { none, noUserDataDir, profileInUse };
HygieneSkip hygieneSkip(const std::optional<std::string>& userDataDir);

// The items hygiene deletes for these choices, relative to the user data
// directory and in the order of deletion: the session files and "Sessions"
// of Default when closePreviousTabs, then the storage kinds set to true
// ("all" selects every kind).
std::vector<std::string> hygieneItems(bool closePreviousTabs,
                                      const std::map<std::string, bool>& storageKinds);

// The path of base/relative that deletion would reach: none when a path
// component below base is not a real directory (a symbolic link included),
// so nothing outside base is ever reached.
std::optional<std::string> hygieneTarget(const std::string& base, const std::string& relative);

// Deletes base/relative (a file, or a directory with its contents) when
// hygieneTarget reaches it; a link standing at the item itself is removed as
// a link.
void removeQuietly(const std::string& base, const std::string& relative);

}  // namespace quillon
