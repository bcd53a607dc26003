// Fuzz target: any bytes as the launch configuration. The linear reader must
// agree with the JSON library's ordered one, and the overlay keep its promises.
#include "config/overlay.h"
#include "fuzz_require.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quillon;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::optional<Json> value = parseJson(bytes);
  Json library = Json::parse(bytes, nullptr, /*allow_exceptions=*/false);
  if (value)
    require(*value == library);
  else  // refused by the library too, or for a NUL byte or deep nesting
    require(library.is_discarded() || bytes.find('\0') != bytes.npos || size > kMaxJsonDepth);
  if (!value || !value->is_object()) return 0;
  OverlayKeys o = overlayFromConfig(*value);
  require(o.onProxyFail == "block" || o.onProxyFail == "fallback");
  require(o.startPage.empty() || o.closePreviousTabs);
  require(o.granularStorageReset.size() <= size);
  return 0;
}
