// Replays a server's byte stream into the session's packet handler: login replies, the session
// set-up, messages on every channel, the ICQ server's replies, the answers to a registration.
// The first byte picks where the session stands when the stream starts (at the login server,
// at the session server, signed on, or with bit 16 registering a new UIN) and whether texts are
// made plain; the rest is cut into FLAPs as a connection would, or (with bit 8) into framed peer
// packets, scrambled here so that the bytes reach the direct message handler (messages, contact
// lists, file offers and answers). The session has no connection: its answers go nowhere, and a
// hand-over to the session server it names fails at once instead of reaching out. Whatever the
// bytes, nothing may crash or hang.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "icq/ICQClient.h"
#include "icq/ICQClientNet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  auto client = std::make_unique<icq::TICQClient>();
  client->UIN = 123456789;
  client->Password = "s3cret";
  client->DisableDirectConnections = true;
  client->ConvertToPlaintext = (data[0] & 4) != 0;
  // An HTTP gateway without a host: any connect fails on the spot.
  client->ProxyType = icq::P_HTTP;
  int events = 0;
  client->FOnMessageRecv = [&](const std::string&, std::uint32_t) { ++events; };
  client->FOnSMSAck = [&](const std::string&, const std::string&, const std::string&, bool) { ++events; };
  client->FOnError = [&](icq::TErrorType, const std::string&) { ++events; };
  client->ResumeForReplay(data[0] & 16 ? icq::TICQClient::TReplayStart::Registering
                                       : static_cast<icq::TICQClient::TReplayStart>(data[0] % 3));
  client->FOnNewUINRegistered = [&](std::uint32_t) { ++events; };
  client->FOnNewUINRefused = [&] { ++events; };
  client->FOnContactListRecv = [&](std::uint32_t, const std::vector<icq::TContactEntry>&) { ++events; };
  client->FOnFTRequest = [&](std::uint32_t, const std::string&, const std::string&, std::uint32_t,
                             std::uint16_t) { ++events; };
  if (data[0] & 8) {
    // u16 LE length, packet; a length past the end takes what is there.
    for (std::size_t at = 1; at + 2 <= size;) {
      const std::size_t n = std::min<std::size_t>(data[at] | data[at + 1] << 8, size - at - 2);
      std::vector<std::uint8_t> packet(data + at + 2, data + at + 2 + n);
      at += 2 + n;
      if (packet.size() > icq::kPktCapacity) continue;
      if (!packet.empty()) icq::EncryptPak(packet.data(), packet.size(), icq::kPeerVersion);
      client->HandleDirectPacket(2002, packet.data(), packet.size());
    }
    return 0;
  }
  auto assembler = std::make_unique<icq::TFlapAssembler>();
  assembler->Feed(data + 1, size - 1,
                  [&](const icq::TFlapHdr& h, const std::uint8_t*, std::size_t, icq::TRawPkt& body) {
                    client->HandlePacket(h, body);
                    return true;
                  });
  return 0;
}
