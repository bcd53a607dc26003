// The persona overlay: the launcher's own reading of the launch configuration,
// built once at start-up and never changed.
#pragma once

#include <map>
#include <string>

#include "config/json_read.h"

namespace quillon {

struct OverlayKeys {
  std::string proxyServer;
  bool webrtcNoLeak = false;
  bool webrtcFakePublicIpSet = false;
  std::string onProxyFail = "block";  // exactly "block" or "fallback"
  bool autoGeo = false;
  bool autoLang = false;
  bool autoTimezone = false;
  bool geoLatSet = false;
  bool geoLngSet = false;
  bool langSet = false;
  bool acceptLanguageSet = false;
  bool timezoneOverrideSet = false;
  // The stated texts of the three keys above ("" when absent or not a string).
  std::string lang;
  std::string acceptLanguage;
  std::string timezoneOverride;
  // The stated geo-lat, geo-lng and hardware-concurrency, numbers or texts,
  // as text ("" when absent or of another type).
  std::string geoLat;
  std::string geoLng;
  std::string hardwareConcurrency;
  bool closePreviousTabs = false;  // forced true by a non-empty startPage
  std::string startPage;
  std::map<std::string, bool> granularStorageReset;
  bool deviceMemorySet = false;
  bool hardwareConcurrencySet = false;
  bool speechVoicesSet = false;
  std::string webglProfile;
};

// Lenient truth of config[key]: booleans as they are, the strings "true" and
// "1", numbers whose integer part is non-zero; anything else is false.
bool overlayFlag(const char* key, const Json& config);

// The overlay of a parsed top-level configuration object.
OverlayKeys overlayFromConfig(const Json& config);

// The overlay of the file at path; defaults when it cannot be read or parsed.
OverlayKeys loadOverlay(const std::string& path);

}  // namespace quillon
