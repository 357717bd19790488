#include "inet/IdIOHandler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <random>
#include <thread>

#include "tests/support/ScriptedPeer.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/SilentPort.h"

namespace {

using namespace inet;
using ::testing::HasSubstr;
using testsupport::ScriptedPeer;
using testsupport::ServerProcess;
using testsupport::SilentPort;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

std::string Peer(int port) {
  return "127.0.0.1:" + std::to_string(port);
}

// Records the intercept calls in order, as "kind:text".
class RecordingIntercept : public TIdConnectionIntercept {
 public:
  std::vector<std::string> calls;
  void Connect(const std::string& peer) override { calls.push_back("connect:" + peer); }
  void Disconnect() override { calls.push_back("disconnect"); }
  void Receive(std::string_view data) override { calls.push_back("recv:" + std::string(data)); }
  void Send(std::string_view data) override { calls.push_back("send:" + std::string(data)); }
  void Status(std::string_view text) override { calls.push_back("status:" + std::string(text)); }
};

// Work events as a list: "begin N", the cumulative counts, "end".
struct WorkLog {
  std::vector<std::int64_t> counts;
  std::vector<std::string> frames;
  TWorkEvents Events(TWorkMode expected) {
    TWorkEvents e;
    e.OnWorkBegin = [this, expected](TWorkMode m, std::int64_t max) {
      frames.push_back((m == expected ? "begin " : "wrong mode ") + std::to_string(max));
    };
    e.OnWork = [this](TWorkMode, std::int64_t count) { counts.push_back(count); };
    e.OnWorkEnd = [this](TWorkMode) { frames.push_back("end"); };
    return e;
  }
  bool Increasing() const { return std::is_sorted(counts.begin(), counts.end(), std::less_equal<>()); }
};

std::string Pattern(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

// --- lines ------------------------------------------------------------------------------

struct LineCase {
  const char* name;
  std::string sent;  // what the peer sends, then it closes
  std::size_t maxLength;
  std::vector<std::string> lines;  // read before the last call
  const char* error;               // what the last ReadLn raises, or nullptr
};

void PrintTo(const LineCase& c, std::ostream* os) {
  *os << c.name;
}

class ReadLnTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(ReadLnTest, SplitsStripsAndCaps) {
  const LineCase& c = GetParam();
  ScriptedPeer peer;
  peer.Drop(c.sent).Start();
  TIdIOHandlerSocket io;
  io.Open("127.0.0.1", peer.Port());
  for (const auto& expected : c.lines) EXPECT_EQ(io.ReadLn(c.maxLength), expected);
  if (c.error == nullptr) return;
  try {
    io.ReadLn(c.maxLength);
    FAIL() << "no exception";
  } catch (const EIdProtocolError& e) {
    EXPECT_STREQ(c.error, "protocol") << e.what();
    EXPECT_THAT(e.what(), HasSubstr(Peer(peer.Port())));
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_THAT(e.what(), HasSubstr(c.error));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadLnTest,
    ::testing::Values(
        LineCase{"CrLfAndBareLf",
                 "one\r\ntwo\nthree\r\n\r\nlast\n",
                 k_max_line_length,
                 {"one", "two", "three", "", "last"},
                 "closed gracefully"},
        LineCase{"LineOfExactlyMaxLength",
                 "0123456789\r\n0123456789\n",
                 10,
                 {"0123456789", "0123456789"},
                 nullptr},
        LineCase{"OneByteTooLong", "0123456789A\r\n", 10, {}, "protocol"},
        LineCase{"CrInsideTheCap", "012345678\r9\r\n", 10, {}, "protocol"},
        LineCase{"HugeLineWithoutEnd", std::string(300000, 'x'), k_max_line_length, {}, "protocol"},
        LineCase{
            "PeerClosesMidLine", "done\r\npart", k_max_line_length, {"done"}, "in the middle of a line"}),
    [](const auto& p) { return std::string(p.param.name); });

// --- writing, intercepts, status ------------------------------------------------------------

TEST(IOHandlerTest, CommandGoesOutInOneSendAndInterceptsSeeTheMaskedText) {
  ScriptedPeer peer;
  peer.Send("220 hi\r\n").Expect("PASS secret").Send("230 ok\r\n").Expect("QUIT").Start();
  TIdIOHandlerSocket io;
  auto rec = std::make_shared<RecordingIntercept>();
  io.AddIntercept(rec);
  std::vector<std::string> status;
  io.OnStatus = [&](const std::string& s) { status.push_back(s); };

  io.Open("127.0.0.1", peer.Port());
  EXPECT_TRUE(io.Connected());
  EXPECT_EQ(io.ReadLn(), "220 hi");
  io.Write("PASS secret\r\n", "PASS ***\r\n");
  EXPECT_EQ(io.ReadLn(), "230 ok");
  io.Write("QUIT\r\n");
  io.Close();
  io.Close();  // idempotent: no second "disconnect"
  EXPECT_FALSE(io.Connected());
  EXPECT_THROW(io.Write("x"), EIdSocketError);

  EXPECT_THAT(peer.Errors(), ::testing::IsEmpty());
  EXPECT_THAT(peer.Segments(), ::testing::ElementsAre("PASS secret\r\n", "QUIT\r\n"));
  const std::string p = Peer(peer.Port());
  EXPECT_THAT(rec->calls,
              ::testing::ElementsAre("status:Connecting to " + p, "connect:" + p, "recv:220 hi\r\n",
                                     "send:PASS ***\r\n", "recv:230 ok\r\n", "send:QUIT\r\n", "disconnect"));
  EXPECT_THAT(status, ::testing::ElementsAre("Connecting to " + p, "Connected to " + p, "Disconnected"));
}

TEST(IOHandlerTest, HostNameIsResolvedAndTheFirstWorkingAddressIsUsed) {
  ScriptedPeer peer;
  peer.Send("hello\r\n").Start();
  TIdIOHandlerSocket io;
  std::vector<std::string> status;
  io.OnStatus = [&](const std::string& s) { status.push_back(s); };
  io.Open("localhost", peer.Port());
  EXPECT_EQ(io.ReadLn(), "hello");
  EXPECT_EQ(io.Host(), "localhost");
  EXPECT_EQ(io.PeerAddress(), "127.0.0.1");
  EXPECT_EQ(io.PeerPort(), peer.Port());
  EXPECT_EQ(io.LocalAddress(), "127.0.0.1");
  EXPECT_GT(io.LocalPort(), 0);
  EXPECT_FALSE(io.IsIPv6());
  EXPECT_EQ(status.front(), "Resolving host name localhost");
  EXPECT_EQ(status.back(), "Connected to localhost:" + std::to_string(peer.Port()));
}

TEST(IOHandlerTest, RefusedConnectNamesHostPortAndTheSystemText) {
  const int port = testsupport::FreePort();
  TIdIOHandlerSocket io;
  try {
    io.Open("127.0.0.1", port, 2000);
    FAIL() << "connected to a closed port";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode(), ECONNREFUSED);
    EXPECT_THAT(e.what(), HasSubstr(Peer(port)));
    EXPECT_THAT(e.what(), HasSubstr("Connection refused"));
  }
  EXPECT_FALSE(io.Connected());
  EXPECT_THROW(io.OpenAddress("not-an-address", port), EIdResolveError);
}

TEST(IOHandlerTest, ReadBytesReadSomeAndWaitForData) {
  ScriptedPeer peer;
  peer.Send("hello world").Stall(milliseconds(400)).Drop("tail");
  peer.Start();
  TIdIOHandlerSocket io;
  io.Open("127.0.0.1", peer.Port());
  char buf[64] = {};
  io.ReadBytes(buf, 5);
  EXPECT_EQ(std::string(buf, 5), "hello");
  EXPECT_EQ(io.ReadSome(buf, sizeof buf), 6u);  // the buffered rest, without waiting
  EXPECT_EQ(std::string(buf, 6), " world");

  auto start = Clock::now();
  EXPECT_FALSE(io.WaitForData(150));
  EXPECT_GE(MsSince(start), 150);
  EXPECT_TRUE(io.WaitForData(5000));
  EXPECT_LT(MsSince(start), 2000);
  EXPECT_EQ(io.ReadSome(buf, sizeof buf), 4u);
  EXPECT_EQ(std::string(buf, 4), "tail");
  EXPECT_TRUE(io.WaitForData(5000));  // the close is news too
  EXPECT_EQ(io.ReadSome(buf, sizeof buf), 0u);
  EXPECT_FALSE(io.Connected());
  EXPECT_THROW(io.ReadBytes(buf, 1), EIdConnClosedGracefully);
}

TEST(IOHandlerTest, ConnectedNoticesThePeersClose) {
  ScriptedPeer peer;
  peer.Send("x").Close().Start();
  TIdIOHandlerSocket io;
  io.Open("127.0.0.1", peer.Port());
  EXPECT_TRUE(io.WaitForData(5000));
  EXPECT_TRUE(io.Connected());  // one byte still to read
  char c = 0;
  io.ReadBytes(&c, 1);
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (io.Connected() && Clock::now() < deadline) std::this_thread::sleep_for(milliseconds(5));
  EXPECT_FALSE(io.Connected());
}

// --- time-outs -------------------------------------------------------------------------------

TEST(IOHandlerTest, ReadTimeoutFiresWithinTenPercent) {
  ScriptedPeer peer;
  peer.Send("partial").Stall(std::chrono::seconds(10)).Start();
  TIdIOHandlerSocket io;
  io.ReadTimeout = 1000;
  io.Open("127.0.0.1", peer.Port());
  const auto start = Clock::now();
  try {
    io.ReadLn();
    FAIL() << "no time-out";
  } catch (const EIdReadTimeout& e) {
    const auto ms = MsSince(start);
    EXPECT_GE(ms, 1000);
    EXPECT_LT(ms, 1100);
    EXPECT_THAT(e.what(), HasSubstr("Read timed out after 1000 ms"));
    EXPECT_THAT(e.what(), HasSubstr(Peer(peer.Port())));
  }
}

TEST(IOHandlerTest, ConnectTimeoutFiresWithinTenPercent) {
  SilentPort silent;
  TIdIOHandlerSocket io;
  const auto start = Clock::now();
  try {
    io.Open("127.0.0.1", silent.Port(), 1000);
    FAIL() << "connected although the accept queue is full";
  } catch (const EIdConnectTimeout& e) {
    const auto ms = MsSince(start);
    EXPECT_GE(ms, 1000);
    EXPECT_LT(ms, 1100);
    EXPECT_THAT(e.what(), HasSubstr("Connect timed out after 1000 ms"));
    EXPECT_THAT(e.what(), HasSubstr(Peer(silent.Port())));
  }
  EXPECT_FALSE(io.Connected());
}

// --- abort -----------------------------------------------------------------------------------

struct AbortCase {
  const char* name;
  // Sets up a peer that makes the call hang, and returns that call.
  std::function<std::function<void()>(TIdIOHandlerSocket&)> prepare;
};

std::function<void()> StalledPeer(TIdIOHandlerSocket& io, std::function<void(TIdIOHandlerSocket&)> call) {
  auto peer = std::make_shared<ScriptedPeer>();
  peer->Stall(std::chrono::seconds(30)).Start();
  io.Open("127.0.0.1", peer->Port());
  return [peer, &io, call] { call(io); };
}

void PrintTo(const AbortCase& c, std::ostream* os) {
  *os << c.name;
}

class AbortTest : public ::testing::TestWithParam<AbortCase> {};

TEST_P(AbortTest, AnotherThreadEndsTheBlockedCallAtOnce) {
  TIdIOHandlerSocket io;
  io.ReadTimeout = 30000;
  std::stop_source stop;
  io.SetStopToken(stop.get_token());
  const auto blocked = GetParam().prepare(io);
  std::promise<Clock::time_point> abortedAt;
  std::thread aborter([&] {
    std::this_thread::sleep_for(milliseconds(300));
    abortedAt.set_value(Clock::now());
    stop.request_stop();
  });
  const auto start = Clock::now();
  bool aborted = false;
  try {
    blocked();
  } catch (const EIdAborted&) {
    aborted = true;
  }
  const auto end = Clock::now();
  aborter.join();
  ASSERT_TRUE(aborted) << "the call ended by itself";
  const auto at = abortedAt.get_future().get();
  EXPECT_GE(end, at) << "ended before the abort";
  EXPECT_LT(std::chrono::duration_cast<milliseconds>(end - at).count(), 100);
  EXPECT_GE(MsSince(start), 250);
  EXPECT_TRUE(io.StopRequested());
}

INSTANTIATE_TEST_SUITE_P(
    Calls, AbortTest,
    ::testing::Values(
        AbortCase{"Connect",
                  [](TIdIOHandlerSocket& io) -> std::function<void()> {
                    auto silent = std::make_shared<SilentPort>();
                    return [silent, &io] { io.Open("127.0.0.1", silent->Port(), 60000); };
                  }},
        AbortCase{"Read",
                  [](TIdIOHandlerSocket& io) { return StalledPeer(io, [](auto& s) { s.ReadLn(); }); }},
        AbortCase{"Write",
                  [](TIdIOHandlerSocket& io) {
                    // A peer that reads nothing: the socket buffers fill and send waits.
                    return StalledPeer(io, [](auto& s) { s.Write(std::string(32 << 20, 'x')); });
                  }},
        AbortCase{"TLSHandshake",
                  [](TIdIOHandlerSocket& io) {
                    return StalledPeer(io, [](auto& s) {
                      TIdSSLIOHandlerSocketOpenSSL ssl;
                      ssl.Options.VerifyPeer = false;
                      s.StartTLS(ssl);
                    });
                  }},
        AbortCase{"ThrottlePause",
                  [](TIdIOHandlerSocket& io) {
                    return StalledPeer(io, [](auto& s) {
                      s.AddIntercept(std::make_shared<TIdInterceptThrottler>(8));  // a byte a second
                      const auto endless = [](char* b, std::size_t n) {
                        std::fill_n(b, n, 'x');
                        return n;
                      };
                      s.WriteStream(endless, -1, {});
                    });
                  }}),
    [](const auto& p) { return std::string(p.param.name); });

// A stop stays: every call fails, a new connection included, until a new token comes.
TEST(IOHandlerTest, AfterAStopEveryCallFailsUntilANewToken) {
  ScriptedPeer first;
  first.Send("one\r\n").Start();
  ScriptedPeer second;
  second.Send("two\r\n").Start();
  TIdIOHandlerSocket io;
  std::stop_source stop;
  io.SetStopToken(stop.get_token());
  io.Open("127.0.0.1", first.Port());
  stop.request_stop();
  EXPECT_TRUE(io.StopRequested());
  EXPECT_THROW(io.ReadLn(), EIdAborted);
  EXPECT_THROW(io.Write("x\r\n"), EIdAborted);
  EXPECT_THROW(io.WaitForData(0), EIdAborted);
  io.Close();
  EXPECT_THROW(io.Open("127.0.0.1", second.Port()), EIdAborted);
  std::stop_source fresh;
  io.SetStopToken(fresh.get_token());
  io.Open("127.0.0.1", second.Port());
  EXPECT_FALSE(io.StopRequested());
  EXPECT_EQ(io.ReadLn(), "two");
}

// --- streams ---------------------------------------------------------------------------------

class StreamTest : public ::testing::Test {
 protected:
  testsupport::ScratchDir dir{"stream"};

  std::string WriteFile(const std::string& name, const std::string& content) {
    const auto path = dir.Path() / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }
  // Sends the file's content to the first client, then closes.
  std::unique_ptr<ServerProcess> FileServer(const std::string& path) {
    return std::make_unique<ServerProcess>(std::vector<std::string>{
        "socat", "-u", "OPEN:" + path + ",rdonly", "TCP-LISTEN:{port},bind=127.0.0.1,reuseaddr"});
  }
};

TEST_F(StreamTest, ReadStreamTakesBufferedBytesFirstAndCountsThem) {
  const std::string body = Pattern(3'000'000, 1);
  auto server = FileServer(WriteFile("data", "HEADER\r\n" + body));
  TIdIOHandlerSocket io;
  io.Open("127.0.0.1", server->Port());
  EXPECT_EQ(io.ReadLn(), "HEADER");

  std::string got;
  WorkLog work;
  const auto n = io.ReadStream([&](const char* p, std::size_t len) { got.append(p, len); }, 1'000'000,
                               work.Events(TWorkMode::wmRead));
  EXPECT_EQ(n, 1'000'000);
  EXPECT_THAT(work.frames, ::testing::ElementsAre("begin 1000000", "end"));
  EXPECT_TRUE(work.Increasing());
  EXPECT_EQ(work.counts.back(), 1'000'000);

  WorkLog rest;
  const auto m = io.ReadStream([&](const char* p, std::size_t len) { got.append(p, len); }, -1,
                               rest.Events(TWorkMode::wmRead));
  EXPECT_EQ(m, 2'000'000);
  EXPECT_THAT(rest.frames, ::testing::ElementsAre("begin 0", "end"));
  EXPECT_EQ(rest.counts.back(), 2'000'000);
  EXPECT_TRUE(got == body) << "the streamed bytes differ from the file";
}

TEST_F(StreamTest, ReadBytesSmallAndLargeKeepTheOrder) {
  const std::string body = Pattern(400'000, 2);
  auto server = FileServer(WriteFile("data", "HEADER\n" + body));
  TIdIOHandlerSocket io;
  io.Open("127.0.0.1", server->Port());
  EXPECT_EQ(io.ReadLn(), "HEADER");
  std::string got(body.size(), '\0');
  io.ReadBytes(got.data(), 3);                  // from the buffer
  io.ReadBytes(got.data() + 3, 250'000);        // mostly straight into the caller's memory
  io.ReadBytes(got.data() + 250'003, 149'996);  // through the buffer again
  io.ReadBytes(got.data() + 399'999, 1);
  EXPECT_TRUE(got == body) << "the bytes differ from the file";
  char c = 0;
  EXPECT_THROW(io.ReadBytes(&c, 1), EIdConnClosedGracefully);
}

TEST_F(StreamTest, ReadStreamCutShortRaisesAndStillEndsTheWork) {
  auto server = FileServer(WriteFile("short", std::string(1000, 'a')));
  TIdIOHandlerSocket io;
  io.Open("127.0.0.1", server->Port());
  WorkLog work;
  try {
    io.ReadStream([](const char*, std::size_t) {}, 5000, work.Events(TWorkMode::wmRead));
    FAIL() << "no exception";
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_THAT(e.what(), HasSubstr("after 1000 of 5000 bytes"));
  }
  EXPECT_THAT(work.frames, ::testing::ElementsAre("begin 5000", "end"));
}

TEST_F(StreamTest, WriteStreamDeliversEveryByte) {
  // The server counts what it receives and answers the count.
  constexpr std::int64_t k_size = 5'000'000;
  ServerProcess server({"socat", "TCP-LISTEN:{port},bind=127.0.0.1,reuseaddr",
                        "SYSTEM:head -c " + std::to_string(k_size) + " | wc -c"});
  TIdIOHandlerSocket io;
  io.Open("127.0.0.1", server.Port());
  std::int64_t left = k_size;
  WorkLog work;
  const auto n = io.WriteStream(
      [&](char* b, std::size_t max) {
        const auto take =
            static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(max)));
        std::fill_n(b, take, 'z');
        left -= static_cast<std::int64_t>(take);
        return take;
      },
      k_size, work.Events(TWorkMode::wmWrite));
  EXPECT_EQ(n, k_size);
  EXPECT_THAT(work.frames, ::testing::ElementsAre("begin 5000000", "end"));
  EXPECT_EQ(work.counts.back(), k_size);
  io.ReadTimeout = 10000;
  EXPECT_EQ(io.ReadLn(), std::to_string(k_size));
}

// The throttler's rate, measured over about three seconds in each direction.
class ThrottleTest : public StreamTest, public ::testing::WithParamInterface<TWorkMode> {};

TEST_P(ThrottleTest, RateHoldsWithinFivePercent) {
  constexpr std::int64_t k_bits_per_sec = 8'000'000;
  constexpr std::int64_t k_size = 3'000'000;  // three seconds at that rate
  std::unique_ptr<ServerProcess> server;
  if (GetParam() == TWorkMode::wmRead) {
    server = FileServer(WriteFile("data", std::string(k_size, 'r')));
  } else {
    server = std::make_unique<ServerProcess>(std::vector<std::string>{
        "socat", "-u", "TCP-LISTEN:{port},bind=127.0.0.1,reuseaddr", "OPEN:/dev/null"});
  }
  TIdIOHandlerSocket io;
  io.Open("127.0.0.1", server->Port());
  io.AddIntercept(std::make_shared<TIdInterceptThrottler>(k_bits_per_sec));
  std::int64_t moved = 0;
  const auto start = Clock::now();
  if (GetParam() == TWorkMode::wmRead) {
    moved = io.ReadStream([](const char*, std::size_t) {}, k_size, {});
  } else {
    std::int64_t left = k_size;
    moved = io.WriteStream(
        [&](char* b, std::size_t max) {
          const auto take =
              static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(max)));
          std::fill_n(b, take, 'w');
          left -= static_cast<std::int64_t>(take);
          return take;
        },
        k_size, {});
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ASSERT_EQ(moved, k_size);
  const double rate = static_cast<double>(moved) * 8 / seconds;
  EXPECT_NEAR(rate, static_cast<double>(k_bits_per_sec), 0.05 * k_bits_per_sec) << "over " << seconds << " s";
}

INSTANTIATE_TEST_SUITE_P(Directions, ThrottleTest, ::testing::Values(TWorkMode::wmRead, TWorkMode::wmWrite),
                         [](const auto& p) { return p.param == TWorkMode::wmRead ? "Read" : "Write"; });

// --- IPv6 ------------------------------------------------------------------------------------

TEST(IOHandlerTest, IPv6LoopbackLiteral) {
  int port = 0;
  try {
    port = testsupport::FreePort(true);
  } catch (const std::exception& e) {
    GTEST_SKIP() << "no IPv6 loopback here: " << e.what();
  }
  ServerProcess::Options options;
  options.ipv6 = true;
  options.port = port;
  ServerProcess echo({"socat", "TCP6-LISTEN:{port},bind=[::1],reuseaddr", "SYSTEM:cat"}, options);
  TIdIOHandlerSocket io;
  io.Open("::1", echo.Port());
  EXPECT_TRUE(io.IsIPv6());
  EXPECT_EQ(io.PeerAddress(), "::1");
  io.Write("ping\r\n");
  EXPECT_EQ(io.ReadLn(), "ping");
  io.Close();
  TIdIOHandlerSocket refused;
  try {
    refused.Open("::1", testsupport::FreePort(true));
    FAIL() << "connected to a closed port";
  } catch (const EIdSocketError& e) {
    EXPECT_THAT(e.what(), HasSubstr("[::1]:"));
  }
}

}  // namespace
