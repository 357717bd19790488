// The peer-connection manager against a remote peer played by the test on a plain socket,
// with init packets written out byte by byte as the peer protocol lays them out.
#include "icq/ICQDirect2.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtl/UniqueFd.h"
#include "tests/icq/IcqTestPump.h"

namespace {

using icqtest::PumpUntil;

constexpr std::uint32_t kMe = 1001, kPeer = 2002, kPeerCookie = 0x11223344;

void Put(std::string& s, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) s += static_cast<char>(v >> (8 * i) & 0xFF);
}

// A peer init (little-endian fields, the cookie as it was announced).
std::string Init(std::uint16_t version, std::uint32_t to, std::uint32_t from, std::uint32_t cookie,
                 std::uint8_t type = 4, std::uint32_t port = 4000, std::uint32_t port2 = 4000) {
  std::string p("\xFF", 1);
  Put(p, version, 2);
  Put(p, 43, 2);
  Put(p, to, 4);
  Put(p, 0, 2);
  Put(p, port, 4);
  Put(p, from, 4);
  Put(p, 0x0100007F, 4);
  Put(p, 0x0100007F, 4);
  Put(p, type, 1);
  Put(p, port2, 4);
  Put(p, cookie, 4);
  Put(p, 0x50, 4);
  Put(p, 3, 4);
  Put(p, 0, 4);
  return p;
}

std::string Framed(const std::string& p) {
  std::string s;
  Put(s, static_cast<std::uint32_t>(p.size()), 2);
  return s + p;
}

struct Fixture {
  icq::TicqDCM dcm{kMe};
  std::vector<std::string> errors;
  rtl::TUniqueFd sock;
  std::string got;
  bool closed = false;

  Fixture() {
    dcm.FOnError = [this](icq::TErrorType, const std::string& m) { errors.push_back(m); };
    dcm.SetOwnCookie(0x55667788);
    dcm.Start();
    dcm.AddUser(kPeer, kPeerCookie, 0x0100007F, 0x0100007F, 4000);
    sock.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(dcm.BindPort());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(sock.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  }
  void Send(const std::string& bytes) {
    ASSERT_EQ(::send(sock.Get(), bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
  }
  void Read() {
    char buf[4096];
    const ssize_t n = ::recv(sock.Get(), buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    if (n == 0) closed = true;
  }
  bool WaitClosed() {
    return PumpUntil(
        [&] {
          Read();
          return closed;
        },
        std::chrono::seconds(5));
  }
};

TEST(TicqDCM, AcceptedPeerCompletesTheHandshake) {
  Fixture f;
  f.Send(Framed(Init(8, kMe, kPeer, kPeerCookie)));
  // Acknowledgement, then the manager's own init addressed to the peer with its cookie.
  ASSERT_TRUE(PumpUntil([&] {
    f.Read();
    return f.got.size() >= 6 + 2 + 48;
  }));
  EXPECT_EQ(f.got.substr(0, 6), Framed(std::string("\x01\x00\x00\x00", 4)));
  const std::string init = f.got.substr(6 + 2, 48);
  EXPECT_EQ(static_cast<std::uint8_t>(init[0]), 0xFF);
  EXPECT_EQ(init.substr(5, 4), std::string("\xD2\x07\x00\x00", 4));   // to 2002
  EXPECT_EQ(init.substr(15, 4), std::string("\xE9\x03\x00\x00", 4));  // from 1001
  EXPECT_EQ(init.substr(32, 4), std::string("\x55\x66\x77\x88", 4));  // own cookie, big-endian
  EXPECT_FALSE(f.dcm.ConnectionEstabilished(kPeer));
  f.got.clear();
  std::string init2("\x03", 1);
  Put(init2, 10, 4);
  Put(init2, 1, 4);
  for (std::uint32_t v : {0u, 0u, 0u, 0u, 0u, 0x00040001u}) Put(init2, v, 4);
  f.Send(Framed(init2));
  ASSERT_TRUE(PumpUntil([&] {
    f.Read();
    return f.got.size() >= 2 + init2.size();
  }));
  EXPECT_EQ(f.got[2], '\x03');
  EXPECT_TRUE(f.dcm.ConnectionEstabilished(kPeer));
  EXPECT_TRUE(f.errors.empty());
}

struct Refusal {
  const char* name;
  std::string bytes;
  const char* error;  // nullptr: closed without a word
};

class TicqDCMRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(TicqDCMRefusal, ClosesTheConnection) {
  Fixture f;
  f.Send(GetParam().bytes);
  ASSERT_TRUE(f.WaitClosed());
  if (GetParam().error) {
    ASSERT_EQ(f.errors.size(), 1u);
    EXPECT_EQ(f.errors[0], GetParam().error);
  } else {
    EXPECT_TRUE(f.errors.empty());
  }
  EXPECT_TRUE(PumpUntil([&] { return f.dcm.ConnectionCount() == 0; }));
}

INSTANTIATE_TEST_SUITE_P(
    Peer, TicqDCMRefusal,
    ::testing::Values(
        Refusal{"Version6", Framed(Init(6, kMe, kPeer, kPeerCookie)), icq::RS_ERROR_NO_DC_WRONGVER},
        Refusal{"OtherCookie", Framed(Init(8, kMe, kPeer, kPeerCookie + 1)), icq::RS_ERROR_NO_DC_SECURITY},
        Refusal{"OtherAddressee", Framed(Init(8, kMe + 1, kPeer, kPeerCookie)), icq::RS_ERROR_NO_DC_SECURITY},
        Refusal{"PortsDiffer", Framed(Init(8, kMe, kPeer, kPeerCookie, 4, 4000, 4001)),
                icq::RS_ERROR_NO_DC_SECURITY},
        Refusal{"ConnectionType3", Framed(Init(8, kMe, kPeer, kPeerCookie, 3)),
                icq::RS_ERROR_NO_DC_UNSUPPORTEDPROXY},
        Refusal{"TruncatedInit", Framed(Init(8, kMe, kPeer, kPeerCookie).substr(0, 20)),
                icq::RS_ERROR_NO_DC_PACKETERROR},
        Refusal{"UnknownSender", Framed(Init(8, kMe, 3003, kPeerCookie)), nullptr},
        Refusal{"Length8193", std::string("\x01\x20", 2) + std::string(100, 'x'),
                icq::RS_ERROR_BUFFEROVERRUN}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(TicqDCM, ContactOnAPrivilegedPortIsNeverConnected) {
  icq::TicqDCM dcm(kMe);
  dcm.Start();
  dcm.AddUser(kPeer, kPeerCookie, 0x0100007F, 0x0100007F, 1024);
  EXPECT_FALSE(dcm.ConnectionEstabilished(kPeer));
  EXPECT_EQ(dcm.ConnectionCount(), 0u);
  dcm.AddUser(kPeer, kPeerCookie, 0x0100007F, 0x0100007F, 1025);
  EXPECT_FALSE(dcm.ConnectionEstabilished(kPeer));
  EXPECT_EQ(dcm.ConnectionCount(), 1u);
}

TEST(TicqDCM, FileTransferThatIsNeverUsedIsClosedWhenIdle) {
  icq::TicqDCM dcm{kMe};
  dcm.Start();
  EXPECT_EQ(dcm.AddFileUser(3003, {"/nonexistent", "me"}), 0) << "a port opened for an unknown contact";
  dcm.AddUser(kPeer, kPeerCookie, 0x0100007F, 0x0100007F, 4000);
  const std::uint16_t port = dcm.AddFileUser(kPeer, {"/nonexistent", "me"});
  ASSERT_NE(port, 0);
  dcm.CheckIdle(std::chrono::hours(1));
  EXPECT_EQ(dcm.FileTransferCount(), 1u);
  icqtest::PumpFor(std::chrono::milliseconds(30));
  dcm.CheckIdle(std::chrono::milliseconds(10));
  EXPECT_EQ(dcm.FileTransferCount(), 0u);
  // The port no longer takes connections.
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_TRUE(PumpUntil([&] {
    rtl::TUniqueFd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return ::connect(probe.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0;
  }, std::chrono::seconds(5)));
}

}  // namespace
