#pragma once
// The one rule that keeps secrets out of logs: which property names hold one, how a command
// that carries one is shown, and how a protocol dialogue line is written to an action's log.
#include <string>
#include <string_view>
#include <vector>

namespace rtl {

// A property whose text is a secret: its name mentions a password or a cookie (the stored
// forms of passwords). Its text is never quoted, not even in an error about it.
bool IsSecretName(std::string_view name);

// A command line as a log shows it: the secret becomes "****" (the argument of PASS and ACCT,
// AUTH's initial response after its mechanism, APOP's digest after the user name, NNTP's
// AUTHINFO PASS and AUTHINFO SASL's initial response); verbs
// match in any case, and any other line stays as it is.
std::string MaskedCommand(std::string_view line);

// A dialogue line as an action's detailed log shows it: "label : data", split into lines at
// CR or CR LF. Data that mentions a password ("pass" in any case: USER's "password required",
// PASS itself) is written as "pass xxx"; an occurrence of `secret` elsewhere becomes "****",
// and the rest of the line stays readable.
std::vector<std::string> DialogueLogLines(std::string_view label, std::string_view data,
                                          std::string_view secret = {});

inline constexpr std::string_view k_masked_dialogue = "pass xxx";
inline constexpr std::string_view k_masked_secret = "****";

}  // namespace rtl
