#pragma once
// Loopback listeners that never accept, for tests of what a client does before a server
// answers.
#include "rtl/UniqueFd.h"

namespace testsupport {

// A listener on 127.0.0.1 at a port of its own; connections wait in its accept queue.
class LoopbackListener {
 public:
  explicit LoopbackListener(int backlog = 4);
  int Port() const { return port_; }
  // Whether a connection waits in the accept queue: did anyone try to connect?
  bool Pending() const;

 private:
  rtl::TUniqueFd fd_;
  int port_ = 0;
};

// A loopback listener whose accept queue is full: the kernel drops the SYN of any further
// connect, which then hangs like one to a silent host, without a packet leaving the machine.
class SilentPort {
 public:
  SilentPort();
  int Port() const { return listener_.Port(); }

 private:
  LoopbackListener listener_{0};
  rtl::TUniqueFd filler_;
};

}  // namespace testsupport
