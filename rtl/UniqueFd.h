#pragma once
// Owns a POSIX file descriptor (files, sockets, pipes) and closes it once.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace rtl {

class TUniqueFd {
 public:
  TUniqueFd() = default;
  explicit TUniqueFd(int fd) : fd_(fd) {}
  ~TUniqueFd() { Reset(); }
  TUniqueFd(TUniqueFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  TUniqueFd& operator=(TUniqueFd&& o) noexcept {
    if (this != &o) {
      Reset();
      fd_ = std::exchange(o.fd_, -1);
    }
    return *this;
  }
  TUniqueFd(const TUniqueFd&) = delete;
  TUniqueFd& operator=(const TUniqueFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// The system's text for an errno value.
inline std::string SysErrorMessage(int err) { return std::strerror(err); }

}  // namespace rtl
