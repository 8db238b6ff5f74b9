#include "narrow.h"

#include <algorithm>

namespace zebcmd {

std::string ArgumentNarrower::narrow(std::u16string_view wide) const {
  std::string narrowed(wide.size(), '\0');
  std::transform(wide.begin(), wide.end(), narrowed.begin(),
                 [](char16_t unit) { return unit <= 0xFF ? static_cast<char>(unit) : ' '; });
  return narrowed;
}

}  // namespace zebcmd
