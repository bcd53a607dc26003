// Fuzz target: a profile name (up to the first line feed) and a WebGL profiles file. Each switch
// is "--member=value" of a non-comment member in file order; nested values are JSON text again.
#include "engine/webgl_profile.h"
#include "fuzz_require.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  size_t newline = bytes.find('\n');
  if (newline == bytes.npos) return 0;
  std::string name(bytes.substr(0, newline));
  std::optional<quillon::Json> file = quillon::parseJson(bytes.substr(newline + 1));
  if (!file) return 0;
  std::vector<std::string> switches = quillon::webglSwitchesOf(*file, name);
  if (switches.empty()) return 0;
  size_t next = 0;
  for (const auto& [member, value] : file->at("profiles").at(name).items()) {
    std::string head = "--" + member + "=";
    if (next == switches.size() || !switches[next].starts_with(head)) continue;
    std::string text = switches[next++].substr(head.size());
    require(!member.starts_with("_") && !text.empty() && !value.is_null());
    if (value.is_array() || value.is_object()) require(quillon::parseJson(text).has_value());
    if (value.is_number()) require(text.find_first_of("eE") == std::string::npos);
  }
  require(next == switches.size());
  return 0;
}
