#pragma once
#include <string>

namespace host {

// A new random (version 4) GUID as "{XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX}", uppercase hex.
std::string NewGUIDString();

}  // namespace host
