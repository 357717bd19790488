// The FTP test servers, checked with curl as an independent client: each one starts, takes the
// user and refuses a wrong password, lists and stores files, has the features it claims, and
// leaves no process behind. Their real listings also go through our parser.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "inet/IdFTPList.h"
#include "rtl/DateUtils.h"
#include "rtl/UniqueFd.h"
#include "tests/support/FtpServers.h"

namespace testsupport {
namespace {

namespace fs = std::filesystem;
using inet::TIdDirItemType;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

const inet::TIdFTPListItem* Find(const inet::TIdFTPListItems& items, const std::string& name) {
  for (const auto& item : items) {
    if (item.FileName == name) return &item;
  }
  return nullptr;
}

// A control connection logged in by hand, so that a session process exists while the server
// is stopped.
rtl::TUniqueFd LoggedInSession(const FtpServer& server) {
  rtl::TUniqueFd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  timeval timeout{10, 0};
  ::setsockopt(s.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(server.Port()));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return {};
  std::string received;
  // Reads until a final reply line ("ddd ") with the code wanted.
  const auto expect = [&](const std::string& code) {
    for (;;) {
      for (std::size_t start = 0, end; (end = received.find("\r\n", start)) != std::string::npos;
           start = end + 2) {
        const std::string line = received.substr(start, end - start);
        if (line.size() >= 4 && line[3] == ' ') {
          received.erase(0, end + 2);
          return line.compare(0, 3, code) == 0;
        }
      }
      char buf[512];
      const ssize_t n = ::recv(s.Get(), buf, sizeof buf, 0);
      if (n <= 0) return false;
      received.append(buf, static_cast<std::size_t>(n));
    }
  };
  const auto send = [&](const std::string& command) {
    const std::string line = command + "\r\n";
    return ::send(s.Get(), line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
  };
  if (expect("220") && send("USER " + server.User()) && expect("331") && send("PASS " + server.Password()) &&
      expect("230"))
    return s;
  return {};
}

class FtpServersTest : public ::testing::TestWithParam<FtpServerKind> {
 protected:
  // curl with the server's login (or another password); returns its exit status.
  int Curl(const FtpServer& server, std::vector<std::string> args, std::string* output,
           const std::string& password = "") {
    std::vector<std::string> argv{
        "curl", "-sS",    "--max-time",
        "20",   "--user", server.User() + ":" + (password.empty() ? server.Password() : password)};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, output);
  }
};

TEST_P(FtpServersTest, ServesOneUserAndStopsWithEverySession) {
  FtpServer server(GetParam());
  SCOPED_TRACE(server.Name());
  server.Put("a.txt", "hello");
  server.Put("over.txt", "to be replaced");
  server.MakeDir("sub dir");
  fs::create_symlink("a.txt", server.Root() / "link");
  // Noon, so that the listing's day is the same in any zone the server may list in.
  const rtl::TDateTime old = rtl::EncodeDateTime(2020, 2, 29, 12, 0, 0);
  const fs::path oldPath = server.Put("old.bin", std::string(1000, 'x'));
  fs::last_write_time(oldPath, fs::file_time_type::clock::from_sys(std::chrono::sys_seconds(
                                   std::chrono::seconds(rtl::DateTimeToUnix(rtl::LocalToUTC(old))))));

  std::string out;
  ASSERT_EQ(Curl(server, {server.Url("/")}, &out, "wrong-password"), 67) << out;  // login refused

  // Files the test made after the start can be replaced and deleted by the session user.
  const std::string upload = (server.Root().parent_path() / "upload.txt").string();
  std::ofstream(upload) << "uploaded";
  ASSERT_EQ(Curl(server, {"-T", upload, server.Url("/over.txt")}, &out), 0) << out << server.Output();
  EXPECT_EQ(Curl(server, {server.Url("/over.txt")}, &out), 0);
  EXPECT_EQ(out, "uploaded");

  ASSERT_EQ(Curl(server, {server.Url("/")}, &out), 0) << out << server.Output();
  inet::TIdListingStyle style = inet::TIdListingStyle::Unknown;
  const inet::TIdFTPListItems list = inet::ParseListing(Lines(out), false, rtl::Now(), &style);
  EXPECT_EQ(style,
            server.Features().unixListing ? inet::TIdListingStyle::Unix : inet::TIdListingStyle::Windows)
      << out;
  EXPECT_EQ(list.Count(), 5) << out;
  const auto* a = Find(list, "a.txt");
  const auto* dir = Find(list, "sub dir");
  const auto* link = Find(list, "link");
  const auto* oldItem = Find(list, "old.bin");
  ASSERT_TRUE(a && dir && link && oldItem) << out;
  EXPECT_EQ(a->ItemType, TIdDirItemType::ditFile);
  EXPECT_EQ(a->Size, 5);
  EXPECT_EQ(dir->ItemType, TIdDirItemType::ditDirectory);
  EXPECT_EQ(link->ItemType, TIdDirItemType::ditSymbolicLink);
  EXPECT_EQ(link->LinkTarget, "a.txt");
  EXPECT_EQ(oldItem->Size, 1000);
  EXPECT_EQ(rtl::DateTimeToStr(oldItem->ModifiedDate), "2020-02-29 00:00:00");

  const int mlsdStatus = Curl(server, {"-X", "MLSD", server.Url("/")}, &out);
  if (server.Features().mlsd) {
    ASSERT_EQ(mlsdStatus, 0) << out;
    const inet::TIdFTPListItems facts = inet::ParseListing(Lines(out), true, rtl::Now(), &style);
    EXPECT_EQ(style, inet::TIdListingStyle::MLSD);
    const auto* mlsdOld = Find(facts, "old.bin");
    const auto* mlsdDir = Find(facts, "sub dir");
    ASSERT_TRUE(mlsdOld && mlsdDir) << out;
    EXPECT_EQ(mlsdOld->ItemType, TIdDirItemType::ditFile);
    EXPECT_EQ(mlsdOld->Size, 1000);
    // As the server wrote it: UTC (the client turns listing dates into local time).
    EXPECT_EQ(rtl::DateTimeToStr(mlsdOld->ModifiedDate), rtl::DateTimeToStr(rtl::LocalToUTC(old)));
    EXPECT_EQ(mlsdDir->ItemType, TIdDirItemType::ditDirectory);
  } else {
    EXPECT_NE(mlsdStatus, 0) << out;
  }

  // XCRC of "hello"; curl fails a quoted command the server refuses.
  const int crcStatus = Curl(server, {"-v", "-Q", "XCRC /a.txt", server.Url("/"), "-o", "/dev/null"}, &out);
  if (server.Features().xcrc) {
    EXPECT_EQ(crcStatus, 0) << out;
    EXPECT_NE(out.find("3610A686"), std::string::npos) << out;
  } else {
    EXPECT_NE(crcStatus, 0) << out;
  }

  EXPECT_EQ(Curl(server, {"-Q", "DELE /a.txt", server.Url("/"), "-o", "/dev/null"}, &out), 0) << out;
  EXPECT_FALSE(fs::exists(server.Root() / "a.txt"));

  const rtl::TUniqueFd session = LoggedInSession(server);
  ASSERT_TRUE(session.Valid()) << server.Output();
  EXPECT_FALSE(server.Leftovers().empty());
  server.Stop();
  EXPECT_TRUE(server.Leftovers().empty());
}

std::string ServerName(const ::testing::TestParamInfo<FtpServerKind>& param) {
  return FtpServerName(param.param);
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpServersTest, ::testing::ValuesIn(AllFtpServerKinds()), ServerName);

}  // namespace
}  // namespace testsupport
