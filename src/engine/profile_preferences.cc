#include "engine/profile_preferences.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "engine/hygiene.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace quillon {

namespace {

// "/intl/accept_languages" gives {"intl", "accept_languages"}.
std::vector<std::string> tokensOf(const std::string& pointer) {
  std::vector<std::string> tokens;
  for (size_t start = 1, end; start <= pointer.size(); start = end + 1) {
    end = std::min(pointer.find('/', start), pointer.size());
    tokens.push_back(pointer.substr(start, end - start));
  }
  return tokens;
}

// The object holding the setting named by the last token, made on the way
// when create is set; none when something other than an object is in the way.
Json* holderOf(Json& root, const std::vector<std::string>& tokens, bool create) {
  Json* at = &root;
  for (size_t i = 0; i + 1 < tokens.size(); ++i) {
    if (!at->is_object()) return nullptr;
    auto it = at->find(tokens[i]);
    if (it != at->end()) {
      at = &*it;
    } else if (create) {
      at = &((*at)[tokens[i]] = Json::object());
    } else {
      return nullptr;
    }
  }
  return at->is_object() ? at : nullptr;
}

// Writes bytes beside path and moves them over it in one step, on the disk
// before and after: the user's own settings are in the same file and must
// survive a crash at any moment.
bool replaceFile(const std::string& path, const std::string& bytes, mode_t mode) {
  std::string fresh = path + ".quillon-new";
  if (writeNewFileSynced(fresh, bytes) && chmod(fresh.c_str(), mode) == 0 &&
      replaceWithFileSynced(fresh, path))
    return true;
  unlink(fresh.c_str());
  return false;
}

}  // namespace

bool editPersonaSettings(Json& preferences, Json& record,
                         const std::vector<PersonaSetting>& settings) {
  bool changed = false;
  for (const PersonaSetting& setting : settings) {
    std::vector<std::string> tokens = tokensOf(setting.pointer);
    const std::string& name = tokens.back();
    Json* holder = holderOf(preferences, tokens, false);
    std::optional<Json> current;
    if (holder && holder->contains(name)) current = (*holder)[name];
    auto entry = record.find(setting.pointer);
    bool known = entry != record.end() && entry->is_object() && entry->contains("set");
    bool launchers = known && current == (*entry)["set"];
    std::optional<Json> before = current;
    if (launchers)
      before = entry->contains("before") ? std::optional((*entry)["before"]) : std::nullopt;

    if (setting.value) {
      if (setting.written && current != setting.value) {
        Json* place = holderOf(preferences, tokens, true);
        if (!place) continue;  // not a profile this launcher understands: left alone
        (*place)[name] = *setting.value;
        changed = true;
      }
      Json kept = {{"set", *setting.value}};
      if (before) kept["before"] = *before;
      record[setting.pointer] = std::move(kept);
      continue;
    }
    if (launchers) {
      if (before)
        (*holder)[name] = *before;
      else
        holder->erase(name);
      changed = true;
    }
    record.erase(setting.pointer);
  }
  return changed;
}

void applyPersonaSettings(const std::string& userDataDir,
                          const std::vector<PersonaSetting>& settings) {
  if (userDataDir.empty()) return;
  std::string recordPath = joinPath(userDataDir, kPersonaRecordName);
  std::optional<Json> record = readJsonObjectFile(recordPath);
  bool sets = std::any_of(settings.begin(), settings.end(),
                          [](const PersonaSetting& s) { return s.value.has_value(); });
  if ((!sets && !record) || profileInUse(userDataDir)) return;

  std::string profile = joinPath(userDataDir, "Default");
  std::string path = joinPath(profile, "Preferences");
  struct stat st {};
  bool haveProfile = lstat(profile.c_str(), &st) == 0;
  if (haveProfile && !S_ISDIR(st.st_mode)) return;
  bool havePreferences = haveProfile && lstat(path.c_str(), &st) == 0;
  if (havePreferences && !S_ISREG(st.st_mode)) return;
  Json preferences = Json::object();
  if (havePreferences) {
    std::optional<Json> read = readJsonObjectFile(path);
    if (!read) return;
    preferences = std::move(*read);
  }

  Json kept = record ? *record : Json::object();
  bool changed = editPersonaSettings(preferences, kept, settings);
  try {
    // The record first, and gone last: a change to the Preferences is never
    // made, nor left, without the record that takes it back.
    if (!kept.empty() && (!record || kept != *record) &&
        !replaceFile(recordPath, kept.dump(), 0600))
      return;
    if (changed &&
        ((!haveProfile && !makeDirectories(profile)) ||
         !replaceFile(path, preferences.dump(), havePreferences ? st.st_mode & 0777 : 0600)))
      return;
    if (kept.empty()) unlink(recordPath.c_str());
  } catch (const Json::exception&) {
    // Text that cannot be written as JSON: the files stay as they were.
  }
}

}  // namespace quillon
