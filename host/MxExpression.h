#pragma once
// Expansion of %NAME% references in property texts: a project variable, else an environment
// variable of that name; "%%" is a literal percent sign.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace host {

struct TExpandResult {
  bool Ok = false;
  std::string Text;   // the expanded text when Ok
  std::string Error;  // what went wrong otherwise, naming the variable
};

using TVariableLookup = std::function<std::optional<std::string>(const std::string& name)>;

TExpandResult ExpandVariables(std::string_view text, const TVariableLookup& lookup);

}  // namespace host
