// Feeds a hostile gateway's answer to the gateway reader: the HTTP response reader in the pieces
// the input chooses (same verdict, status and body however it is split, body within its
// limit), then the body's gateway packets (each within the body, 12 to 8192 bytes after its
// length word), the hello's host (accepted only when it cannot break a request line) and the
// FLAPs of data packets through the assembler.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "icq/ICQClientNet.h"
#include "icq/ICQSock.h"

namespace {

using icq::THTTPResponseReader;

struct TRead {
  THTTPResponseReader::TState state;
  int error;
  std::string status;
  std::string body;
  bool operator==(const TRead&) const = default;
};

TRead Read(const std::uint8_t* data, std::size_t size, std::size_t piece) {
  THTTPResponseReader r;
  for (std::size_t at = 0; at < size && r.State() == THTTPResponseReader::TState::NeedMore; at += piece) {
    const std::size_t n = std::min(piece, size - at);
    if (r.Feed(data + at, n) > n) std::abort();
  }
  return {r.State(), r.ErrorMessage(), r.Status(), r.Body()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t piece = 1 + data[0] % 97;
  const TRead whole = Read(data + 1, size - 1, size);
  if (!(Read(data + 1, size - 1, piece) == whole)) std::abort();
  if (whole.body.size() > icq::kNetPacketMax) std::abort();
  // The body is the gateway's whatever the status: parse the input itself too.
  for (const std::string_view body :
       {std::string_view(whole.body), std::string_view(reinterpret_cast<const char*>(data + 1), size - 1)}) {
    static icq::TFlapAssembler assembler;
    assembler.Reset();
    icq::ParseGatewayBody(body, [&](std::uint16_t type, std::string_view packet) {
      if (packet.size() < 2u + icq::kMinGatewayPacket || packet.size() > 2u + icq::kMaxGatewayPacket ||
          packet.data() < body.data() || packet.data() + packet.size() > body.data() + body.size())
        std::abort();
      if (type == icq::kGatewayHello) {
        icq::TGatewayHello hello;
        if (icq::ReadGatewayHello(packet, hello) &&
            hello.Ip.find_first_of(std::string_view(" \r\n\0/", 5)) != std::string::npos)
          std::abort();
        if (hello.Sid.size() != 32) std::abort();
      } else if (type == icq::kGatewayData) {
        assembler.Feed(reinterpret_cast<const std::uint8_t*>(packet.data()) + icq::kGatewayDataOffset,
                       packet.size() - icq::kGatewayDataOffset,
                       [](const icq::TFlapHdr&, const std::uint8_t*, std::size_t, icq::TRawPkt&) { return true; });
      }
      return true;
    });
  }
  return 0;
}
