// Strict UTF-8 decoding, shared by the JSON string writer and the egress
// answer parser.
#pragma once

#include <cstddef>
#include <string_view>

namespace quillon {

// Decodes the scalar at text[i]. Returns its length in bytes, or 0 when the
// bytes there are not well-formed UTF-8 (overlong forms, surrogates, values
// above U+10FFFF and cut sequences included).
size_t decodeUtf8Scalar(std::string_view text, size_t i, char32_t& scalar);

}  // namespace quillon
