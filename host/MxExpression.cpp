#include "host/MxExpression.h"

namespace host {

TExpandResult ExpandVariables(std::string_view text, const TVariableLookup& lookup) {
  TExpandResult r;
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    size_t p = text.find('%', i);
    if (p == std::string_view::npos) {
      out.append(text.substr(i));
      break;
    }
    out.append(text.substr(i, p - i));
    size_t q = text.find('%', p + 1);
    if (q == std::string_view::npos) {
      r.Error = "unterminated % in \"" + std::string(text) + "\"";
      return r;
    }
    if (q == p + 1) {
      out.push_back('%');
    } else {
      std::string name(text.substr(p + 1, q - p - 1));
      auto v = lookup(name);
      if (!v) {
        r.Error = "variable %" + name + "% is not defined";
        return r;
      }
      out.append(*v);
    }
    i = q + 1;
  }
  r.Ok = true;
  r.Text = std::move(out);
  return r;
}

}  // namespace host
