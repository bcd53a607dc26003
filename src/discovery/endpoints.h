// The two discovery endpoints: their host names (build settings), URLs, the
// provider labels that the result report records and the progress texts
// that name them.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

// Host of the primary geo-IP endpoint (QUILLON_GEOIP_HOST at build time).
std::string primaryEndpointHost();

// "https://" + primary host + "/geoip?format=json"
std::string primaryEndpointURL();

// Host of the fallback my-IP endpoint (QUILLON_MYIP_HOST at build time).
std::string fallbackEndpointHost();

// "https://" + fallback host + "/myip"
std::string fallbackEndpointURL();

// The host without its first label and without its top-level domain, in
// lower case: "geo.quillon.test" gives "quillon", "a.b.example.org" gives
// "b.example". A host of two labels gives its first ("quillon.test" gives
// "quillon"), a single label gives itself; a trailing root dot is ignored.
std::string providerLabel(std::string_view host);

// providerLabel(primaryEndpointHost()).
std::string primaryProviderLabel();

// The fallback host name itself.
std::string fallbackProviderLabel();

// "contacting " + primary host + " via SOCKS5…", while the primary is asked.
std::string contactingPrimaryText();

// "primary failed — trying " + fallback host + "…", while the fallback is asked.
std::string tryingFallbackText();

}  // namespace quillon
