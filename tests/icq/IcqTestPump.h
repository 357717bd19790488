#pragma once
// The main-thread queue pumped by the tests that drive ICQ sockets, always bounded by time.
#include <chrono>
#include <functional>

#include "icq/ICQSock.h"
#include "rtl/Synchronize.h"

namespace icqtest {

// Pumps until done() holds or the time is up; returns done().
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(15)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < end) rtl::CheckSynchronize(10);
  return done();
}

// Pumps for a while whatever happens (to see that nothing does).
inline void PumpFor(std::chrono::milliseconds span) {
  const auto end = std::chrono::steady_clock::now() + span;
  while (std::chrono::steady_clock::now() < end) rtl::CheckSynchronize(10);
}

// Waits, pumping, until no more socket threads run than before (the ones a test started ended).
inline bool ThreadsBackTo(int count, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  return PumpUntil([&] { return icq::RunningSocketThreads() <= count; }, limit);
}

}  // namespace icqtest
