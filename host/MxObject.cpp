#include "host/MxObject.h"

#include <strings.h>

namespace host {

bool TObject::InheritsFrom(std::string_view name) const {
  const std::string own = ClassName();
  if (own.size() == name.size() && strncasecmp(own.data(), name.data(), own.size()) == 0) return true;
  for (const auto& n : ClassNames())
    if (n.size() == name.size() && strncasecmp(n.data(), name.data(), n.size()) == 0) return true;
  return false;
}

}  // namespace host
