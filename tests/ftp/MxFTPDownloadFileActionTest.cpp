// The download action against real servers: local names, the resume-or-overwrite choice by
// sizes, ASCII resumes, names that would leave the download folder, a server killed in the
// middle of a transfer, a full disk, a file beyond 4 GiB, and a stop from another thread.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ftp/MxFTPDownloadFileAction.h"
#include "host/MxRunner.h"
#include "tests/ftp/FtpTestSupport.h"
#include "tests/support/ServerProcess.h"

namespace mx {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ftptest::TLine;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::StartsWith;
using testsupport::FtpServer;
using testsupport::FtpServerKind;

// Bytes that differ at every offset, so that a piece in the wrong place shows.
std::string Pattern(std::size_t n, unsigned seed = 1) {
  std::string s(n, '\0');
  std::uint64_t x = 0x9E3779B97F4A7C15ull * (seed + 1);
  for (std::size_t i = 0; i < n; i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    std::memcpy(s.data() + i, &x, std::min<std::size_t>(8, n - i));
  }
  return s;
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// `bytes` written at `offset` of a file of `size` bytes that is otherwise a hole.
void WriteSparse(const fs::path& p, std::int64_t size, std::int64_t offset, const std::string& bytes) {
  const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << p;
  ASSERT_EQ(::ftruncate(fd, size), 0);
  if (!bytes.empty()) {
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset), static_cast<ssize_t>(bytes.size()));
  }
  ::close(fd);
}

std::string ReadAt(const fs::path& p, std::int64_t offset, std::size_t n) {
  std::string out(n, '\0');
  const int fd = ::open(p.c_str(), O_RDONLY);
  if (fd < 0) return {};
  const ssize_t r = ::pread(fd, out.data(), n, offset);
  ::close(fd);
  out.resize(r < 0 ? 0 : static_cast<std::size_t>(r));
  return out;
}

class MxFTPDownload : public ::testing::Test, public ftptest::TFtpHost {
 protected:
  // A folder of this test's own on the server; the session starts in it unless told not to.
  std::string Folder() { return ftptest::TestFolder(); }
  TFTPConnectionAction& Connect(FtpServer& server, inet::TIdFTPTransferType type = inet::ftBinary,
                                bool intoFolder = true) {
    return ConnectIn(server, intoFolder ? Folder() : std::string(), type);
  }
  TFTPDownloadFileAction& Download(const std::string& remote, bool resume = false, bool overwrite = false) {
    auto& d = AddCommand<TFTPDownloadFileAction>("Site1");
    d.SetFileName(remote);
    d.SetDownloadDir(Local.Path().string());
    d.SetUseFileName(true);
    d.SetAllowResume(resume);
    d.SetAllowOverwrite(overwrite);
    return d;
  }
  fs::path Remote(FtpServer& server, const std::string& name) { return server.Root() / Folder() / name; }

  testsupport::ScratchDir Local{"ftp-download"};
};

class MxFTPDownloadAll : public MxFTPDownload, public ::testing::WithParamInterface<FtpServerKind> {
 protected:
  FtpServer& Server() { return ftptest::SharedServer(GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(Servers, MxFTPDownloadAll, ::testing::ValuesIn(testsupport::AllFtpServerKinds()),
                         [](const auto& p) { return std::string(testsupport::FtpServerName(p.param)); });

// ---------------------------------------------------------------- names and counts

TEST_P(MxFTPDownloadAll, FetchesIntoTheFolderUnderEitherNameAndCountsEveryByte) {
  struct {
    const char* remote;
    const char* localName;  // null: the remote name
    std::size_t size;
    const char* expectedPath;
  } const cases[] = {
      {"report.txt", nullptr, 70000, "report.txt"},
      {"my report ü.bin", nullptr, 1234, "my report ü.bin"},
      {"empty.bin", nullptr, 0, "empty.bin"},
      {"sub/deep.bin", "local copy.bin", 4096, "local copy.bin"},
  };
  Connect(Server());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.remote);
    const std::string content = Pattern(c.size, static_cast<unsigned>(c.size));
    Server().Put(Folder() + "/" + c.remote, content);
    auto& d = Download(c.remote);
    if (c.localName) {
      d.SetUseFileName(false);
      d.SetDownloadFileName(c.localName);
    }
    Capture.Clear();
    // Each arrives within the first second: the count is still the true one.
    EXPECT_TRUE(d.Execute()) << Capture.Dump();
    EXPECT_THAT(Capture.Log(),
                ElementsAre(TLine{"File Downloaded : " + std::to_string(c.size) + " bytes", 1}));
    EXPECT_EQ(ReadAll(Local.Path() / c.expectedPath), content);
  }
  EXPECT_EQ(Project.Context().Objects().OutstandingAcquisitions(), 0);
}

TEST_P(MxFTPDownloadAll, AMissingRemoteFileFailsAndWritesNothing) {
  Connect(Server());
  auto& d = Download("absent.bin", true, true);
  EXPECT_FALSE(d.Execute());
  const auto log = Capture.Log();
  ASSERT_EQ(log.size(), 2u) << Capture.Dump();
  EXPECT_EQ(log[0], (TLine{"File Download failed.", 3}));
  EXPECT_EQ(log[1].Tag, 3);
  EXPECT_FALSE(fs::exists(Local.Path() / "absent.bin"));
}

// ---------------------------------------------------------------- resume or overwrite

TEST_P(MxFTPDownloadAll, ResumeOrOverwriteIsChosenByTheSizes) {
  const std::string server = Pattern(5000, 7);
  const std::string k_resumed =
      "(Both resume & overwrite are enabled. Incomplete local file will be resumed.)";
  const std::string k_overwritten =
      "(Both resume & overwrite are enabled. Intact local file will be overwritten.)";
  struct {
    const char* what;
    std::string local;  // what the local file holds first
    bool resume, overwrite;
    bool ok;
    std::vector<std::string> log;  // "*" stands for the error's own text
    std::string after;             // the local file afterwards
  } const cases[] = {
      {"both, local shorter",
       server.substr(0, 1000),
       true,
       true,
       true,
       {k_resumed, "File Downloaded : 4000 bytes"},
       server},
      {"both, same size",
       std::string(5000, 'x'),
       true,
       true,
       true,
       {k_overwritten, "File Downloaded : 5000 bytes"},
       server},
      {"both, local longer",
       std::string(6000, 'x'),
       true,
       true,
       true,
       {k_overwritten, "File Downloaded : 5000 bytes"},
       server},
      {"resume only", server.substr(0, 4999), true, false, true, {"File Downloaded : 1 bytes"}, server},
      {"overwrite only", server.substr(0, 1000), false, true, true, {"File Downloaded : 5000 bytes"}, server},
      {"neither", "old", false, false, false, {"File Download failed.", "*"}, "old"},
      // More than the server has is no beginning of its file: kept, never called complete.
      {"resume only, local longer",
       std::string(6000, 'x'),
       true,
       false,
       false,
       {"File Download failed.", "*"},
       std::string(6000, 'x')},
  };
  Connect(Server());
  Server().Put(Folder() + "/f.bin", server);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path local = Local.Path() / "f.bin";
    testsupport::WriteText(local, c.local);
    auto& d = Download("f.bin", c.resume, c.overwrite);
    Capture.Clear();
    EXPECT_EQ(d.Execute(), c.ok) << Capture.Dump();
    const auto texts = Capture.Texts();
    ASSERT_EQ(texts.size(), c.log.size()) << Capture.Dump();
    for (std::size_t i = 0; i < texts.size(); ++i)
      if (c.log[i] != "*") {
        EXPECT_EQ(texts[i], c.log[i]);
      }
    EXPECT_TRUE(ReadAll(local) == c.after) << "local file differs";
  }
}

// An ASCII download wrote LF for the server's CR LF: its size is no offset into the server's file.
TEST_P(MxFTPDownloadAll, AnAsciiDownloadIsNeverResumedFromTheLocalSize) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i) + "\n";
  Connect(Server(), inet::ftASCII);
  Server().Put(Folder() + "/t.txt", text);
  const fs::path local = Local.Path() / "t.txt";

  testsupport::WriteText(local, text.substr(0, 100));
  auto& resumeOnly = Download("t.txt", true, false);
  EXPECT_FALSE(resumeOnly.Execute());
  EXPECT_THAT(Capture.Texts(), ElementsAre("File Download failed.",
                                           StartsWith("Cannot resume " + local.string() + " in ASCII mode")));
  EXPECT_EQ(ReadAll(local), text.substr(0, 100));

  Capture.Clear();
  auto& both = Download("t.txt", true, true);
  EXPECT_TRUE(both.Execute()) << Capture.Dump();
  EXPECT_EQ(
      Capture.Texts().at(0),
      "(Both resume & overwrite are enabled, but an ASCII download cannot be resumed. Incomplete local file "
      "will be downloaded again.)");
  EXPECT_EQ(ReadAll(local), text);
}

// ---------------------------------------------------------------- local names

TEST_F(MxFTPDownload, ANameThatWouldLeaveTheDownloadFolderIsRefusedBeforeAnythingIsWritten) {
  FtpServer& server = ftptest::SharedServer(FtpServerKind::Vsftpd);
  testsupport::ScratchDir outside("ftp-outside");
  fs::create_symlink(outside.Path(), Local.Path() / "out");
  const std::string escapes[] = {
      "../x.bin", "a/../../x.bin", "..\\x.bin", (outside.Path() / "x.bin").string(), "out/x.bin", "sub/",
  };
  Connect(server);
  for (const std::string& name : escapes) {
    SCOPED_TRACE(name);
    auto& d = Download("x.bin", false, true);
    d.SetUseFileName(false);
    d.SetDownloadFileName(name);
    Capture.Clear();
    EXPECT_FALSE(d.Execute());
    EXPECT_THAT(Capture.Texts(),
                ElementsAre("File Download failed.", StartsWith("Refusing the local name \"" + name + "\"")));
  }
  EXPECT_TRUE(fs::is_empty(outside.Path()));
  EXPECT_FALSE(fs::exists(Local.Path().parent_path() / "x.bin"));
}

TEST(MxFTPDownloadLocalPath, NamesBelowTheFolderAreKeptAsTheyStand) {
  testsupport::ScratchDir dir("ftp-names");
  fs::create_directories(dir.Path() / "sub");
  const std::string base = dir.Path().string();
  EXPECT_EQ(FTPDownloadLocalPath(base, "a b.txt"), base + "/a b.txt");
  EXPECT_EQ(FTPDownloadLocalPath(base + "/", "sub\\x.txt"), base + "/sub/x.txt");
  EXPECT_EQ(FTPDownloadLocalPath(base, "./sub//x.txt"), base + "/sub/x.txt");
  EXPECT_EQ(FTPDownloadLocalPath(base, "x..txt"), base + "/x..txt");
  EXPECT_THROW(FTPDownloadLocalPath(base, "sub/../x.txt"), rtl::Exception);
}

// ---------------------------------------------------------------- failures mid-transfer

// The server dies with data still on its way; the partial file stays and a later run with
// resume completes it byte for byte.
TEST_P(MxFTPDownloadAll, AServerKilledMidTransferLeavesAPartialFileThatAResumeCompletes) {
  FtpServer server(GetParam());
  const std::string content = Pattern(48 << 20, 3);
  server.Put("big.bin", content);
  Connect(server, inet::ftBinary, false);
  auto& d = Download("big.bin", true, false);
  d.SetAutoReConnect(true);

  // The run thread is held at the transfer's first progress report while the server goes.
  std::promise<void> begun, killed;
  auto killedFuture = killed.get_future().share();
  bool once = false;
  Project.Context().OnProgress = [&](const host::TMxAction&, const std::string&, int) {
    if (std::exchange(once, true)) return;
    begun.set_value();
    killedFuture.wait_for(10s);
  };
  auto first = std::async(std::launch::async, [&] { return d.Execute(); });
  ASSERT_EQ(begun.get_future().wait_for(10s), std::future_status::ready) << Capture.Dump();
  server.Kill();
  killed.set_value();
  ASSERT_EQ(first.wait_for(20s), std::future_status::ready);
  EXPECT_FALSE(first.get());
  const fs::path local = Local.Path() / "big.bin";
  const auto partial = static_cast<std::int64_t>(fs::file_size(local));
  EXPECT_LT(partial, static_cast<std::int64_t>(content.size()));
  const auto texts = Capture.Texts();
  EXPECT_THAT(texts, Contains("File Download failed."));
  EXPECT_THAT(texts, Contains(k_ftp_download_kept_partial + local.string() + " (" + std::to_string(partial) +
                              " bytes)"));

  Project.Context().OnProgress = nullptr;
  server.Restart();
  Capture.Clear();
  EXPECT_TRUE(d.Execute()) << Capture.Dump();
  EXPECT_THAT(Capture.Texts(),
              Contains("File Downloaded : " + std::to_string(content.size() - partial) + " bytes"));
  EXPECT_TRUE(ReadAll(local) == content) << "the resumed file differs from the server's";
  EXPECT_EQ(Project.Context().Objects().OutstandingAcquisitions(), 0);
}

// A full disk: the message names the file, the partial file is kept and reported as
// incomplete, and once there is room a resume completes it.
TEST_F(MxFTPDownload, AFullDiskNamesTheFileAndKeepsTheIncompletePartForAResume) {
  struct TTmpfs {
    fs::path dir;
    bool mounted = false;
    ~TTmpfs() {
      if (mounted) ::umount2(dir.c_str(), MNT_DETACH);
    }
  } disk{Local.Path() / "small"};
  fs::create_directories(disk.dir);
  disk.mounted = ::mount("tmpfs", disk.dir.c_str(), "tmpfs", 0, "size=256k") == 0;
  if (!disk.mounted) GTEST_SKIP() << "a small tmpfs cannot be mounted here: " << std::strerror(errno);

  FtpServer& server = ftptest::SharedServer(FtpServerKind::Vsftpd);
  const std::string content = Pattern(1 << 20, 5);
  Connect(server, inet::ftBinary, false);
  server.Put(Folder() + "/full.bin", content);
  // The failed transfer leaves the session closed, and the resume below connects it again,
  // in the server's root.
  auto& d = Download(Folder() + "/full.bin", true, true);
  d.SetUseFileName(false);
  d.SetDownloadFileName("full.bin");
  d.SetDownloadDir(disk.dir.string());
  d.SetAutoReConnect(true);
  const fs::path local = disk.dir / "full.bin";

  EXPECT_FALSE(d.Execute());
  const auto texts = Capture.Texts();
  ASSERT_EQ(texts.size(), 3u) << Capture.Dump();
  EXPECT_EQ(texts[0], "File Download failed.");
  EXPECT_THAT(texts[1], HasSubstr(local.string()));
  EXPECT_THAT(texts[1], HasSubstr("No space left on device"));
  const auto partial = fs::file_size(local);
  EXPECT_LT(partial, content.size());
  EXPECT_EQ(
      Capture.Log()[2],
      (TLine{k_ftp_download_kept_partial + local.string() + " (" + std::to_string(partial) + " bytes)", 2}));

  ASSERT_EQ(::mount("tmpfs", disk.dir.c_str(), "tmpfs", MS_REMOUNT, "size=4m"), 0) << std::strerror(errno);
  Capture.Clear();
  EXPECT_TRUE(d.Execute()) << Capture.Dump();
  EXPECT_THAT(Capture.Texts(),
              Contains("(Both resume & overwrite are enabled. Incomplete local file will be resumed.)"));
  EXPECT_TRUE(ReadAll(local) == content);
}

// ---------------------------------------------------------------- sizes beyond 32 bits

TEST_P(MxFTPDownloadAll, AFileBeyondFourGiBResumesAtA64BitOffset) {
  constexpr std::int64_t k_size = (std::int64_t{4} << 30) + (8 << 20);
  constexpr std::int64_t k_local = (std::int64_t{4} << 30) + (1 << 20);
  const std::string tail = Pattern(7 << 20, 9);
  Connect(Server());
  Server().MakeDir(Folder());
  WriteSparse(Remote(Server(), "huge.bin"), k_size, k_local, tail);
  // The beginning of the server's file is a hole: a hole of the same length stands for it.
  const fs::path local = Local.Path() / "huge.bin";
  WriteSparse(local, k_local, 0, {});

  auto& d = Download("huge.bin", true, true);
  EXPECT_TRUE(d.Execute()) << Capture.Dump();
  EXPECT_THAT(Capture.Texts(),
              ElementsAre("(Both resume & overwrite are enabled. Incomplete local file will be resumed.)",
                          "File Downloaded : " + std::to_string(k_size - k_local) + " bytes"));
  EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(local)), k_size);
  EXPECT_TRUE(ReadAt(local, k_local, tail.size()) == tail);
  fs::remove(Remote(Server(), "huge.bin"));
}

// ---------------------------------------------------------------- stop

TEST_F(MxFTPDownload, AStopEndsARunningTransferAtOnceWithTheActionsMessages) {
  FtpServer& server = ftptest::SharedServer(FtpServerKind::Pyftpdlib);
  Connect(server);
  // Far more than can arrive before the stop; read from a hole and written nowhere.
  WriteSparse(Remote(server, "endless.bin"), std::int64_t{64} << 30, 0, {});
  fs::create_symlink("/dev/null", Local.Path() / "endless.bin");
  // The runner connects again first, which starts in the server's root.
  auto& d = Download(Folder() + "/endless.bin", false, true);
  d.SetUseFileName(false);
  d.SetDownloadFileName("endless.bin");

  std::promise<std::string> reported;
  bool once = false;
  Project.Context().OnProgress = [&](const host::TMxAction&, const std::string& text, int) {
    if (text.find("KBytes Transferred") != std::string::npos && !std::exchange(once, true))
      reported.set_value(text);
  };
  host::TProjectRunner runner(Project);
  auto run = std::async(std::launch::async, [&] { return runner.Run(); });
  auto progress = reported.get_future();
  ASSERT_EQ(progress.wait_for(20s), std::future_status::ready) << Capture.Dump();
  // A report a second in: the speed, then what has come of the whole.
  EXPECT_THAT(progress.get(),
              MatchesRegex("Download speed : [0-9]+\\.[0-9][0-9] KB/s : [0-9]+/67108864 KBytes Transferred"));
  const auto t0 = std::chrono::steady_clock::now();
  runner.RequestStop();
  ASSERT_EQ(run.wait_for(5s), std::future_status::ready);
  const auto took = std::chrono::steady_clock::now() - t0;
  RecordProperty("StopMilliseconds",
                 static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
  EXPECT_EQ(run.get(), host::TRunResult::Stopped);
  // Within 200 ms on an idle machine; the bound leaves room for a loaded one.
  EXPECT_LT(took, 1s) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
  const auto texts = Capture.Texts();
  EXPECT_THAT(texts, Contains("Aborting FTP operation..."));
  EXPECT_THAT(texts, Contains("File Download failed."));
  EXPECT_EQ(Project.Context().Objects().OutstandingAcquisitions(), 0);
  Project.Context().OnProgress = nullptr;
  fs::remove(Remote(server, "endless.bin"));
}

TEST_F(MxFTPDownload, IdentityAndDefaults) {
  auto action = Host.Actions().CreateAction("TFTPDownloadFileAction");
  ASSERT_NE(action, nullptr);
  action->SetPropertyText("ConnectionName", "Site1");
  action->SetPropertyText("FileName", "a.txt");
  EXPECT_EQ(action->GetActionName(), "FTP Download file");
  EXPECT_EQ(action->GetFormattedDescription(), "FTP Download file [ Site1 ] [ a.txt ]");
  EXPECT_EQ(action->GetHelpTopicID(), 5800);
  for (const char* flag : {"AllowResume", "AllowOverwrite", "UseFileName"})
    EXPECT_EQ(action->GetPropertyText(flag), "false") << flag;
}

}  // namespace
}  // namespace mx
