#pragma once
// The common base of the package's two global option objects. Both live in the option group
// "Internet", and saving either one writes the values of both.
#include <array>
#include <string>
#include <string_view>

#include "host/MxOptions.h"
#include "inet/IdUseTLS.h"

namespace mx {

// TLS modes of the mail and FTP clients; the ordinals are stored in option files and projects.
using inet::TIdUseTLS;
using inet::utNoTLSSupport;
using inet::utUseExplicitTLS;
using inet::utUseImplicitTLS;
using inet::utUseRequireTLS;
inline constexpr std::array<std::string_view, 4> k_use_tls_names = {"utNoTLSSupport", "utUseImplicitTLS",
                                                                    "utUseRequireTLS", "utUseExplicitTLS"};

inline constexpr std::string_view k_internet_option_key = "Internet";
inline constexpr std::string_view k_internet_category = "Internet";

class TMxInternetOptions : public host::TMxOptionsObject {
  MX_CLASS(TMxInternetOptions, host::TMxOptionsObject)
 public:
  std::string GetOptionKey() const override { return std::string(k_internet_option_key); }
  std::string GetCategory() const override { return std::string(k_internet_category); }

  // Writes all thirteen values of both live objects (FTP first, then e-mail). When one live
  // object is missing its values are not written; this object stands in for its own kind.
  void SaveOptions(host::IMxOptionsWriter& writer) override;

 protected:
  // The setters' rule: only a real change is stored and marks the object modified.
  template <class T>
  void Assign(T& field, const T& value) {
    if (field == value) return;
    field = value;
    SetModified(true);
  }
};

}  // namespace mx
