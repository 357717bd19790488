#include "rtl/SecretMask.h"

#include "rtl/SysUtils.h"

namespace rtl {

bool IsSecretName(std::string_view name) {
  const std::string lower = LowerCase(name);
  return lower.find("password") != std::string::npos || lower.find("cookie") != std::string::npos;
}

std::string MaskedCommand(std::string_view line) {
  constexpr auto npos = std::string_view::npos;
  std::size_t start = 0;
  while (start < line.size() && line[start] == ' ') ++start;
  const std::size_t verbEnd = line.find(' ', start);
  if (verbEnd == npos) return std::string(line);
  const std::string_view verb = line.substr(start, verbEnd - start);
  // Where the secret starts: after the verb, after AUTH's mechanism, at APOP's last blank.
  std::size_t keep = npos;
  if (SameText(verb, "PASS") || SameText(verb, "ACCT")) {
    keep = verbEnd;
  } else if (SameText(verb, "AUTH")) {
    const std::size_t mechanism = line.find_first_not_of(' ', verbEnd);
    if (mechanism != npos) keep = line.find(' ', mechanism);
  } else if (SameText(verb, "APOP")) {
    keep = line.find_last_of(' ');
  } else if (SameText(verb, "AUTHINFO")) {
    // NNTP (RFC 4643): the password of PASS, the initial response of SASL after its mechanism.
    const std::size_t sub = line.find_first_not_of(' ', verbEnd);
    const std::size_t subEnd = sub == npos ? npos : line.find(' ', sub);
    if (subEnd != npos) {
      const std::string_view word = line.substr(sub, subEnd - sub);
      if (SameText(word, "PASS")) {
        keep = subEnd;
      } else if (SameText(word, "SASL")) {
        const std::size_t mechanism = line.find_first_not_of(' ', subEnd);
        if (mechanism != npos) keep = line.find(' ', mechanism);
      }
    }
  }
  if (keep == npos) return std::string(line);
  return std::string(line.substr(0, keep)) + " " + std::string(k_masked_secret);
}

std::vector<std::string> DialogueLogLines(std::string_view label, std::string_view data,
                                          std::string_view secret) {
  std::string shown;
  if (LowerCase(data).find("pass") != std::string::npos) {
    shown = k_masked_dialogue;
  } else if (!secret.empty()) {
    for (std::size_t at = 0;;) {
      const std::size_t hit = data.find(secret, at);
      shown.append(data.substr(at, hit == std::string_view::npos ? std::string_view::npos : hit - at));
      if (hit == std::string_view::npos) break;
      shown += k_masked_secret;
      at = hit + secret.size();
    }
  } else {
    shown = data;
  }
  const std::string line = std::string(label) + " : " + shown;
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t cr; (cr = line.find('\r', start)) != std::string::npos;) {
    lines.push_back(line.substr(start, cr - start));
    start = cr + 1;
    if (start < line.size() && line[start] == '\n') ++start;
  }
  if (start < line.size()) lines.push_back(line.substr(start));
  return lines;
}

}  // namespace rtl
