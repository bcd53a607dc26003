// The probe's verdict: whether a persona's stated values still fit its
// proxy's egress. Reasons make it inconsistent; notes only inform.
#pragma once

#include <string>
#include <vector>

#include "persona/zone_table.h"

namespace quillon {

struct VerdictInputs {
  std::string statedTimezone;  // "" when the persona states none
  std::string statedLanguage;  // the stated language, else the first stated Accept-Language tag
  std::string egressCountry;   // as the endpoint sent it ("" when it sent none)
  std::string egressTimezone;
  std::string lastCountry;  // of the last "ok" result report; "" when there is none
  std::string lastTimezone;
  const ZoneTable* zones = nullptr;
};

struct Verdict {
  std::vector<std::string> reasons;
  std::vector<std::string> notes;
  bool consistent() const { return reasons.empty(); }
};

// A stated time zone must be one of the egress country's zones in tzdata's
// table; the egress country and time zone must be those of the last report
// (drift). A stated language outside the country's languages is a note.
Verdict judgePersona(const VerdictInputs& in);

}  // namespace quillon
