#include "host/MxObject.h"
#include "rtl/SysUtils.h"

#include <strings.h>

namespace host {

bool TObject::InheritsFrom(std::string_view name) const {
  const std::string own = ClassName();
  if (rtl::SameText(own, name)) return true;
  for (const auto& n : ClassNames())
    if (rtl::SameText(n, name)) return true;
  return false;
}

}  // namespace host
