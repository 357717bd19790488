#include "rtl/WakeFd.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace rtl {

TUniqueFd MakeWakeFd() {
  return TUniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

void SignalWakeFd(int fd) noexcept {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t w = ::write(fd, &one, sizeof one);
}

void DrainWakeFd(int fd) noexcept {
  std::uint64_t value = 0;
  while (::read(fd, &value, sizeof value) > 0) {
  }
}

}  // namespace rtl
