#include "engine/switches.h"

#include "platform/process_info.h"

namespace quillon {

namespace {

void appendDeviceSwitchesAndStartPage(SwitchList& list, const OverlayKeys& overlay,
                                      const MachineFacts& machine) {
  if (!overlay.deviceMemorySet) {
    if (auto gb = deviceMemoryGB(machine.physicalMemoryBytes))
      addSwitch(list, "device-memory", *gb);
  }
  if (!overlay.hardwareConcurrencySet && machine.activeProcessorCount > 0)
    addSwitch(list, "hardware-concurrency", std::to_string(machine.activeProcessorCount));
  if (!overlay.speechVoicesSet) list.push_back("--speech-voices-preset=stock-chrome-mac");
  list.push_back(overlay.startPage.empty() ? "chrome://version" : overlay.startPage);
}

}  // namespace

MachineFacts currentMachineFacts() {
  return {physicalMemoryBytes(), activeProcessorCount()};
}

void addSwitch(SwitchList& list, std::string_view name, std::string_view value) {
  if (value.empty()) return;
  std::string entry = "--";
  entry.append(name).append("=").append(value);
  list.push_back(std::move(entry));
}

std::optional<std::string> deviceMemoryGB(uint64_t physicalMemoryBytes) {
  if (physicalMemoryBytes == 0) return std::nullopt;
  double gib = static_cast<double>(physicalMemoryBytes) / (1024.0 * 1024.0 * 1024.0);
  if (gib >= 24) return "32";
  if (gib >= 12) return "16";
  if (gib >= 6) return "8";
  if (gib >= 3) return "4";
  if (gib >= 1.5) return "2";
  return "1";
}

bool argumentsNamePage(const std::vector<std::string>& args) {
  static constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";
  bool switches = true;
  for (std::string_view arg : args) {
    size_t first = arg.find_first_not_of(kWhiteSpace);
    arg = first == std::string_view::npos
              ? std::string_view()
              : arg.substr(first, arg.find_last_not_of(kWhiteSpace) - first + 1);
    if (switches && arg == "--") {
      switches = false;
      continue;
    }
    size_t prefix = arg.starts_with("--") ? 2 : arg.starts_with("-") ? 1 : 0;
    if (!switches || prefix == 0 || prefix == arg.size()) return true;
  }
  return false;
}

SwitchList directSwitchList(const OverlayKeys& overlay, const SwitchList& webglSwitches,
                            const MachineFacts& machine) {
  SwitchList list = webglSwitches;
  appendDeviceSwitchesAndStartPage(list, overlay, machine);
  return list;
}

SwitchList discoverySwitchList(const OverlayKeys& overlay, const ResolvedPersona& resolved,
                               const SwitchList& webglSwitches, const MachineFacts& machine) {
  SwitchList list = webglSwitches;
  addSwitch(list, "webrtc-fake-public-ip", resolved.fakeIP);
  if (overlay.webrtcNoLeak) list.push_back("--force-webrtc-ip-handling-policy=default");
  addSwitch(list, "timezone-override", resolved.tz);
  addSwitch(list, "lang", resolved.lang);
  addSwitch(list, "accept-language", resolved.acceptLang);
  addSwitch(list, "geo-lat", resolved.geoLat);
  addSwitch(list, "geo-lng", resolved.geoLng);
  if (!resolved.geoLat.empty() && !resolved.geoLng.empty()) list.push_back("--geo-accuracy=100");
  appendDeviceSwitchesAndStartPage(list, overlay, machine);
  return list;
}

}  // namespace quillon
