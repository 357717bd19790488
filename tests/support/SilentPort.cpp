#include "tests/support/SilentPort.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace testsupport {

namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  return addr;
}

}  // namespace

LoopbackListener::LoopbackListener(int backlog) {
  sockaddr_in addr = Loopback(0);
  socklen_t len = sizeof addr;
  fd_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (::bind(fd_.Get(), reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd_.Get(), backlog) != 0 ||
      ::getsockname(fd_.Get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    throw std::runtime_error("listener: " + rtl::SysErrorMessage(errno));
  }
  port_ = ntohs(addr.sin_port);
}

bool LoopbackListener::Pending() const {
  pollfd p{fd_.Get(), POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}

SilentPort::SilentPort() {
  // With a backlog of 0 one connection fills the queue.
  const sockaddr_in addr = Loopback(listener_.Port());
  filler_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  ::connect(filler_.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  pollfd p{filler_.Get(), POLLOUT, 0};
  if (::poll(&p, 1, 2000) != 1) throw std::runtime_error("the filler connection did not complete");
}

}  // namespace testsupport
