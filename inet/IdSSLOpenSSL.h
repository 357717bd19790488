#pragma once
// TLS through OpenSSL 3: the settings a connection's handshake uses, and the registry of
// available TLS handlers.
#include <functional>
#include <string>
#include <vector>

namespace inet {

struct TIdSSLOptions {
  // Verify the server's certificate chain and host name. Defaults to the runner's settings
  // (rtl::GetTlsSettings(): --insecure-tls turns it off).
  bool VerifyPeer = true;
  // Extra trust anchors (PEM) besides the system's store; defaults to the runner's --ca-file.
  std::string CaFile;
  // The name sent as SNI and checked against the certificate; empty: the host connected to
  // (no SNI for a literal IP address, whose certificate is checked as an IP).
  std::string ServerName;
  // The runner's settings.
  static TIdSSLOptions FromGlobalSettings();
};

// The TLS-capable I/O handler as the clients configure it: options plus a status-text event
// (handshake steps, protocol version, cipher).
class TIdSSLIOHandlerSocketOpenSSL {
 public:
  TIdSSLIOHandlerSocketOpenSSL() : Options(TIdSSLOptions::FromGlobalSettings()) {}
  TIdSSLOptions Options;
  std::function<void(const std::string& text)> OnStatusInfo;
};

// Class names of the available TLS handlers: {"TIdSSLIOHandlerSocketOpenSSL"}, or empty when
// OpenSSL cannot be initialised.
const std::vector<std::string>& GSSLRegistry();

}  // namespace inet
