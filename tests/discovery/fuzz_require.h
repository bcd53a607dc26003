// What a fuzz target checks beyond not crashing: a broken promise is a finding.
#pragma once

inline void require(bool promise) {
  if (!promise) __builtin_trap();
}
