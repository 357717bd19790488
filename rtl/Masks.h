#pragma once
// File-name masks with the Windows rules the projects were written for.
#include <string_view>

#include "rtl/StringList.h"

namespace rtl {

// '*' matches any run (also an empty one), '?' exactly one character, everything else itself
// ignoring ASCII case. A mask ending in ".*" also matches the name without any extension (so
// "*.*" matches every name), and a mask ending in '.' matches names without an extension
// ("*." picks the names that have no dot). An empty mask matches nothing.
bool MatchesMask(std::string_view name, std::string_view mask);

// True when the name matches one of the masks; blanks around each mask are ignored and an
// empty list matches nothing.
bool MatchesAnyMask(std::string_view name, const TStringList& masks);

}  // namespace rtl
