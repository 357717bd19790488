#include "inet/IdPOP3.h"

#include <openssl/evp.h>

#include <array>
#include <string_view>

#include "inet/IdException.h"

namespace inet {

namespace {

constexpr int k_pop3_port = 110;

// The "<process-ID.clock@hostname>" of an APOP-capable greeting (RFC 1939), or empty.
std::string GreetingTimestamp(std::string_view greeting) {
  const std::size_t open = greeting.find('<');
  if (open == std::string_view::npos) return {};
  const std::size_t close = greeting.find('>', open + 1);
  if (close == std::string_view::npos || close == open + 1) return {};
  const std::string_view stamp = greeting.substr(open, close - open + 1);
  if (stamp.find(' ') != std::string_view::npos) return {};
  return std::string(stamp);
}

std::string MD5Hex(std::string_view data) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_md5(), nullptr) != 1)
    throw EIdException("APOP is not available: OpenSSL refused MD5");
  static constexpr char k_hex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += k_hex[digest[i] >> 4];
    hex += k_hex[digest[i] & 0xf];
  }
  return hex;
}

}  // namespace

TIdPOP3::TIdPOP3() {
  Port = k_pop3_port;
  ReplyStyle = TIdReplyStyle::Pop3;
}

void TIdPOP3::Connect() {
  // Refused before connecting, so that nothing of a broken secret ever reaches the server.
  CheckCommandArgument(Username, "user name");
  CheckCommandArgument(Password, "password");
  TIdCmdTCPClient::Connect();
}

void TIdPOP3::DoOnConnected() {
  const std::string stamp = GreetingTimestamp(GetResponse({k_pop3_ok}).Raw);
  if (UseAPOP && !stamp.empty()) {
    // The digest proves the password without sending it.
    SendCmd("APOP " + Username + " " + MD5Hex(stamp + Password), {k_pop3_ok});
    return;
  }
  SendCmd("USER " + Username, {k_pop3_ok});
  SendCmd("PASS " + Password, {k_pop3_ok});
}

void TIdPOP3::Disconnect() {
  QuitAndClose();
}

}  // namespace inet
