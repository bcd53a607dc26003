// The persona's settings that a stock Chromium keeps in the profile's
// Default/Preferences, set for one launch and taken back before the next, so
// that one persona never shows through another. A record beside the profile
// remembers, for each setting, the value the launcher caused and the one that
// stood before; only a setting that still holds the launcher's value is taken
// back, so a value the user chose in the browser's settings stays.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "config/json_read.h"

namespace quillon {

struct PersonaSetting {
  std::string pointer;        // the setting's place in Preferences, "/intl/accept_languages"
  std::optional<Json> value;  // what this launch gives it; none: the profile's own
  bool written = false;       // the launcher writes the value (else Chromium does, from a switch)
};

// The record's name in the user data directory.
inline constexpr const char* kPersonaRecordName = "Quillon Persona Settings";

// Applies the settings to the parsed Preferences and record: a value the
// launcher writes is written, every value is recorded with what it replaced,
// and a setting this launch leaves alone gets back what stood before the
// launcher's value, as long as the launcher's value is still there. Returns
// whether the Preferences changed; the record changes as it must.
bool editPersonaSettings(Json& preferences, Json& record,
                         const std::vector<PersonaSetting>& settings);

// The same on the files of <userDataDir>: nothing while an engine runs on
// the profile, nothing when Default or Preferences is a link or Preferences
// cannot be read, and nothing read at all when the launch sets nothing and
// no record is there. Each file is replaced whole, in one step, keeping the
// original's permissions (the record is the owner's alone). Quiet: a failure
// leaves the files as they were.
void applyPersonaSettings(const std::string& userDataDir,
                          const std::vector<PersonaSetting>& settings);

}  // namespace quillon
