// Sockets that close inside their own event are freed later, by a call queued for the main loop.
// A test that ends without turning the loop again would leave them, and their threads, to the
// process exit, where such a thread may still queue into a loop already destroyed. Turning the
// loop after every test until the socket threads are gone keeps each test's sockets inside it.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/icq/IcqTestPump.h"

namespace {

class TSettleSockets : public ::testing::EmptyTestEventListener {
  void OnTestEnd(const ::testing::TestInfo&) override {
    icqtest::ThreadsBackTo(0, std::chrono::seconds(5));
  }
};

const bool g_registered = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new TSettleSockets);
  return true;
}();

}  // namespace
