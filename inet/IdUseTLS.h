#pragma once
// TLS modes of the mail clients: 0 no TLS support, 1 implicit TLS (handshake on connect),
// 2 require TLS (STARTTLS, failing when the server does not offer it), 3 explicit TLS
// (STARTTLS when offered).
namespace inet {

enum TIdUseTLS : int { utNoTLSSupport = 0, utUseImplicitTLS = 1, utUseRequireTLS = 2, utUseExplicitTLS = 3 };

}  // namespace inet
