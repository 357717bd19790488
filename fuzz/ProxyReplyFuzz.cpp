// Feeds a hostile proxy's answers to every proxy handshake, in the pieces the input chooses:
// the codec never claims more bytes than it was given, always ends (done, failed, or waiting
// for more), and reaches the same end with the same bytes consumed however the answer is split.
// A target host name from the input is refused or sent whole, never with a line break.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "rtl/ProxyCodec.h"

namespace {

using rtl::TProxyHandshake;
using State = TProxyHandshake::TState;

struct TOutcome {
  State state;
  rtl::TProxyFailure failure;
  std::size_t consumed;
  std::string sent;
};

TOutcome Run(const rtl::TProxyRequest& request, std::string_view answers, std::size_t piece) {
  TProxyHandshake hs(request);
  TOutcome out{State::Send, rtl::TProxyFailure::None, 0, {}};
  std::string pending;
  std::size_t next = 0;
  for (;;) {
    if (hs.State() == State::Send) {
      out.sent += hs.TakeOutput();
      continue;
    }
    if (hs.State() != State::NeedMore) break;
    const std::size_t used = hs.Feed(pending);
    if (used > pending.size()) std::abort();
    out.consumed += used;
    pending.erase(0, used);
    if (used > 0 || hs.State() != State::NeedMore) continue;
    if (next >= answers.size()) break;
    pending.append(answers.substr(next, piece));
    next += piece;
  }
  if (out.consumed > answers.size()) std::abort();
  out.state = hs.State();
  out.failure = hs.Failure();
  if (out.state == State::Failed && hs.Error().empty()) std::abort();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size < 2) return 0;
  // The first byte picks the handshake and the login, the second the piece size. With bit 4
  // set, the third byte is the length of a target host name taken from the input: the request
  // must then be refused, or carry the name as it is, never with a line break in it.
  static const rtl::TProxyKind k_kinds[] = {rtl::TProxyKind::Socks4, rtl::TProxyKind::Socks4a,
                                            rtl::TProxyKind::Socks5, rtl::TProxyKind::HttpConnect};
  rtl::TProxyRequest request{k_kinds[bytes[0] % 4], (bytes[0] & 4) ? "ftp.example.org" : "10.0.0.1", 21,
                             (bytes[0] & 8) ? "ann" : "", (bytes[0] & 8) ? "pw" : ""};
  const std::size_t piece = 1 + bytes[1] % 13;
  std::size_t at = 2;
  if ((bytes[0] & 16) && size > at) {
    const std::size_t n = std::min<std::size_t>(bytes[at], size - at - 1);
    request.TargetHost.assign(reinterpret_cast<const char*>(bytes + at + 1), n);
    at += 1 + n;
  }
  const std::string_view answers(reinterpret_cast<const char*>(bytes + at), size - at);
  const TOutcome whole = Run(request, answers, answers.size() + 1);
  const TOutcome split = Run(request, answers, piece);
  if (whole.state != split.state || whole.failure != split.failure || whole.consumed != split.consumed ||
      whole.sent != split.sent)
    std::abort();
  const bool refused = whole.failure == rtl::TProxyFailure::BadRequest;
  if (refused && !whole.sent.empty()) std::abort();
  if (!refused && request.TargetHost.find_first_of(std::string_view("\r\n\0 ", 4)) != std::string::npos)
    std::abort();
  return 0;
}
