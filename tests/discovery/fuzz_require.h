// What the fuzz targets check beyond not crashing: a broken promise ends the
// run as a finding.
#pragma once

#include <cstdlib>

inline void require(bool promise) {
  if (!promise) abort();
}
