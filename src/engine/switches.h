// The extra switch list: what the launcher appends to the engine's command
// line after its own arguments. Every entry but the last is "--name=value";
// the last is the start page.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/overlay.h"

namespace quillon {

using SwitchList = std::vector<std::string>;

// Persona values that discovery resolved; empty means not resolved.
struct ResolvedPersona {
  std::string fakeIP;
  std::string geoLat;
  std::string geoLng;
  std::string lang;
  std::string acceptLang;
  std::string tz;
};

// The machine figures that the device switches report.
struct MachineFacts {
  uint64_t physicalMemoryBytes = 0;
  long activeProcessorCount = 0;
};

MachineFacts currentMachineFacts();

// Appends "--name=value" when value is non-empty.
void addSwitch(SwitchList& list, std::string_view name, std::string_view value);

// The device-memory bucket ("1" to "32" GiB) for a memory size; none for 0.
std::optional<std::string> deviceMemoryGB(uint64_t physicalMemoryBytes);

// The list of the direct launch path: WebGL profile switches, device
// switches the persona does not state itself, and the start page.
SwitchList directSwitchList(const OverlayKeys& overlay, const SwitchList& webglSwitches,
                            const MachineFacts& machine);

// Whether the engine's arguments name a page, as Chromium reads its command
// line: an argument that is not a switch once surrounding white space is
// trimmed ("-x" and "--x" are switches; "-" and "" are not), or any
// argument after a "--" that ends the switches.
bool argumentsNamePage(const std::vector<std::string>& args);

// The list after discovery: as above, with the resolved persona switches
// between the WebGL block and the device switches.
SwitchList discoverySwitchList(const OverlayKeys& overlay, const ResolvedPersona& resolved,
                               const SwitchList& webglSwitches, const MachineFacts& machine);

}  // namespace quillon
