#include "rtl/Synchronize.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "rtl/DateUtils.h"
#include "rtl/Exception.h"

namespace {

class SynchronizeTest : public ::testing::Test {
 protected:
  void SetUp() override { rtl::SetMainThread(); }
  void TearDown() override {
    while (rtl::CheckSynchronize(0)) {
    }
  }
  // Pumps the main loop until `done` or a generous time limit, so a broken queue fails instead
  // of hanging the run. Bounded by time, not by turns: each Synchronize queues work of its own,
  // so a busy machine needs more turns for the same calls.
  template <class Done>
  static bool PumpUntil(Done done, std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > until) return false;
      rtl::CheckSynchronize(50);
    }
    return true;
  }
  // Threads that still wait for the main thread can be neither joined nor left to run on into
  // this test's finished frame: the test process ends here, failed.
  [[noreturn]] static void Abandon(const char* why) {
    ADD_FAILURE() << why;
    std::fflush(nullptr);
    std::_Exit(1);
  }
};

TEST_F(SynchronizeTest, WorkersRunOnTheMainThreadInOrderAndWait) {
  constexpr int kWorkers = 4, kCalls = 50;
  std::vector<std::pair<int, int>> log;  // only touched on the main thread
  int queuedRan = 0;
  std::atomic<int> finished{0};
  std::atomic<bool> allOnMain{true};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      EXPECT_FALSE(rtl::IsMainThread());
      for (int i = 0; i < kCalls; ++i) {
        int seen = -1;  // a local captured by reference: only safe because Synchronize waits
        rtl::Synchronize([&] {
          if (!rtl::IsMainThread()) allOnMain = false;
          log.emplace_back(w, i);
          seen = i;
          rtl::Queue([&queuedRan] { ++queuedRan; });  // queuing from inside a running call
        });
        EXPECT_EQ(seen, i);
      }
      ++finished;
    });
  }
  if (!PumpUntil([&] { return finished == kWorkers; })) Abandon("the workers' calls did not all run");
  for (auto& t : workers) t.join();
  PumpUntil([&] { return queuedRan == kWorkers * kCalls; });

  EXPECT_TRUE(allOnMain);
  EXPECT_EQ(queuedRan, kWorkers * kCalls);
  ASSERT_EQ(log.size(), static_cast<std::size_t>(kWorkers * kCalls));
  std::vector<int> next(kWorkers, 0);
  for (const auto& [w, i] : log) EXPECT_EQ(i, next[static_cast<std::size_t>(w)]++) << "worker " << w;
}

TEST_F(SynchronizeTest, ExceptionIsRethrownInTheCallingThread) {
  std::string message;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    try {
      rtl::Synchronize([] { throw rtl::Exception("boom"); });
    } catch (const rtl::Exception& e) {
      message = e.Message();
    }
    done = true;
  });
  bool finished = false;
  EXPECT_NO_THROW(finished = PumpUntil([&] { return done.load(); }));
  if (!finished) Abandon("the call did not run");
  worker.join();
  EXPECT_EQ(message, "boom");

  bool ran = false;
  rtl::Synchronize([&] { ran = true; });  // on the main thread: at once
  EXPECT_TRUE(ran);
}

TEST_F(SynchronizeTest, QueueRunsAtTheNextCheckInFifoOrder) {
  std::vector<int> order;
  rtl::Queue([&] {
    order.push_back(1);
    rtl::Queue([&] { order.push_back(3); });
  });
  rtl::Queue([&] { order.push_back(2); });
  EXPECT_TRUE(order.empty());
  EXPECT_TRUE(rtl::CheckSynchronize(0));
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_TRUE(rtl::CheckSynchronize(0));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(rtl::CheckSynchronize(0));

  // A failing queued call surfaces from the check; the calls behind it are kept.
  rtl::Queue([] { throw rtl::Exception("queued"); });
  rtl::Queue([&] { order.push_back(4); });
  EXPECT_THROW(rtl::CheckSynchronize(0), rtl::Exception);
  EXPECT_TRUE(rtl::CheckSynchronize(0));
  EXPECT_EQ(order.back(), 4);
}

TEST_F(SynchronizeTest, ThreadRolesAndWake) {
  std::thread worker([] {
    EXPECT_THROW(rtl::CheckSynchronize(0), rtl::Exception);
    rtl::WakeMainThread();
  });
  const auto start = rtl::GetTickCount64();
  EXPECT_FALSE(rtl::CheckSynchronize(60000));  // the wake ends the wait; nothing ran
  EXPECT_LT(rtl::GetTickCount64() - start, 30000u);
  worker.join();

  std::thread other([] { rtl::SetMainThread(); });
  other.join();
  EXPECT_FALSE(rtl::IsMainThread());
  rtl::SetMainThread();
  EXPECT_TRUE(rtl::IsMainThread());
}

TEST_F(SynchronizeTest, TimerFiresFromTheMainLoopUntilDisabled) {
  int fired = 0;
  rtl::TTimer timer(5);
  timer.SetOnTimer([&] {
    EXPECT_TRUE(rtl::IsMainThread());
    if (++fired == 3) timer.SetEnabled(false);
  });
  PumpUntil([&] { return fired >= 3; });
  EXPECT_EQ(fired, 3);
  EXPECT_FALSE(timer.Enabled());
  EXPECT_FALSE(rtl::CheckSynchronize(30));
  EXPECT_EQ(fired, 3);
}

TEST_F(SynchronizeTest, TimerMayDestroyItselfAndOthersFromItsHandler) {
  int firstFired = 0, secondFired = 0;
  std::unique_ptr<rtl::TTimer> first, second;
  // Same period, first one armed first: whenever the second is due, the first fires before it.
  first = std::make_unique<rtl::TTimer>(1, [&] {
    ++firstFired;
    second.reset();
    first.reset();
  });
  second = std::make_unique<rtl::TTimer>(1, [&] { ++secondFired; });
  PumpUntil([&] { return firstFired > 0; });
  EXPECT_EQ(first, nullptr);
  EXPECT_FALSE(rtl::CheckSynchronize(20));
  EXPECT_EQ(firstFired, 1);
  EXPECT_EQ(secondFired, 0);
}

}  // namespace
