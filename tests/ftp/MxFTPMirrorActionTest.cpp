// The mirror action against the three real servers: trees with nested, empty, spaced and
// non-ASCII names, links out of the tree, the three exclusion rules, orphans, the CRC, size
// and date rules, a stop midway and a time-out inside a transfer followed by a run that
// completes; a scripted server for listing names that would leave the local base.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <thread>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ftp/MxFTPMirrorAction.h"
#include "host/MxRunner.h"
#include "rtl/SizeText.h"
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
using ::testing::IsEmpty;
using ::testing::Not;
using testsupport::FtpServer;
using testsupport::FtpServerKind;

// Regular files (path -> content) and directories of a tree; links are left out.
struct TTree {
  std::map<std::string, std::string> Files;
  std::set<std::string> Dirs;
  bool operator==(const TTree&) const = default;
};

void PrintTo(const TTree& t, std::ostream* os) {
  for (const auto& d : t.Dirs) *os << "\n  " << d << "/";
  for (const auto& [p, c] : t.Files) *os << "\n  " << p << " (" << c.size() << " bytes)";
}

TTree ReadTree(const fs::path& root) {
  TTree t;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string rel = fs::relative(it->path(), root).string();
    if (it->is_symlink()) {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_directory()) {
      t.Dirs.insert(rel);
    } else {
      std::ifstream in(it->path(), std::ios::binary);
      t.Files[rel] = {std::istreambuf_iterator<char>(in), {}};
    }
  }
  return t;
}

void Write(const fs::path& p, const std::string& content, std::chrono::minutes age = 60min) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << content;
  fs::last_write_time(p, fs::file_time_type::clock::now() - age);
}

// A mirror whose time-out comes after a fraction of a second instead of minutes.
class TQuickTimeoutMirror : public TFTPMirrorAction {
 public:
  std::chrono::milliseconds Length{1500};

 protected:
  std::chrono::milliseconds TimeoutMonitorLength() override { return Length; }
};

class MxFTPMirror : public ::testing::Test, public ftptest::TFtpHost {
 protected:
  // A session "Site1" to the server and a fresh folder there that the mirror names.
  TFTPConnectionAction& Connect(FtpServer& server) {
    if (folder_.empty()) {
      folder_ = ftptest::TestFolder() + "-" + std::to_string(::getpid());
      server.MakeDir(folder_);
    }
    server_ = &server;
    auto& c = AddConnect("Site1", server);
    EXPECT_TRUE(c.Execute()) << Capture.Dump();
    Capture.Clear();
    return c;
  }
  fs::path Remote() const { return server_->Root() / folder_; }
  fs::path Local() const { return local_.Path() / "base"; }

  template <class A = TFTPMirrorAction>
  A& Mirror(TFTPMirrorOperation op) {
    auto& m = Add<A>();
    m.SetConnectionName("Site1");
    m.SetMirrorOperation(op);
    m.SetLocalDir(Local().string());
    m.SetSpecifyRemoteDir(true);
    m.SetRemoteDir("/" + folder_);
    m.SetRecursive(true);
    m.SetLogFiles(true);
    return m;
  }
  // The relative paths of the lines that start with `prefix` (local side for uploads, remote
  // for downloads), in order.
  std::vector<std::string> Moved(const std::string& prefix, const fs::path& base) const {
    std::vector<std::string> out;
    const std::string start = prefix + "'" + base.string() + "/";
    for (const std::string& t : Capture.Texts())
      if (t.rfind(start, 0) == 0) out.push_back(t.substr(start.size(), t.find('\'', start.size()) - start.size()));
    return out;
  }
  std::vector<std::string> Uploaded() const { return Moved("Uploaded ", Local()); }
  std::vector<std::string> Downloaded() const { return Moved("Downloaded ", "/" + folder_); }

  testsupport::ScratchDir local_{"ftp-mirror"};
  std::string folder_;
  FtpServer* server_ = nullptr;
};

class MxFTPMirrorAll : public MxFTPMirror, public ::testing::WithParamInterface<FtpServerKind> {
 protected:
  FtpServer& Server() { return ftptest::SharedServer(GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(Servers, MxFTPMirrorAll, ::testing::ValuesIn(testsupport::AllFtpServerKinds()),
                         [](const auto& p) { return std::string(testsupport::FtpServerName(p.param)); });

// ---------------------------------------------------------------- model

TEST_F(MxFTPMirror, IdentityPropertiesAndValidation) {
  TFTPMirrorAction m;
  EXPECT_EQ(m.GetActionName(), "FTP Mirror");
  EXPECT_EQ(m.GetHelpTopicID(), 11035);
  m.SetConnectionName("Site1");
  EXPECT_EQ(m.GetFormattedDescription(), "FTP Mirror [Site1] [Local To Remote]");
  m.SetMirrorOperation(moRemoteToLocal);
  EXPECT_EQ(m.GetFormattedDescription(), "FTP Mirror [Site1] [Remote To Local]");
  rtl::TStringList alias;
  m.GetPropertyAlias(alias);
  EXPECT_EQ(alias[9], "[Overwrite Behaviour]");
  EXPECT_EQ(alias[13], "[Include/Exclude Files]");
  EXPECT_EQ(alias[alias.Count() - 1], "LogExcludedFiles=Log Excluded Files");

  struct Errors : host::IMxActionValidationError {
    std::vector<std::pair<std::string, std::string>> List;
    void AddError(const std::string& p, const std::string& msg) override { List.emplace_back(p, msg); }
  };
  TFTPMirrorAction empty;
  empty.SetSpecifyRemoteDir(true);
  empty.SetUseFileSpec(true);
  Errors errors;
  EXPECT_FALSE(empty.Validate(errors));
  EXPECT_THAT(errors.List,
              ElementsAre(std::pair<std::string, std::string>{"FTP Connection", "No FTP connection specified."},
                          std::pair<std::string, std::string>{"Local Directory", "No local directory specified."},
                          std::pair<std::string, std::string>{"Remote Directory", "No remote directory specified."},
                          std::pair<std::string, std::string>{"Include Items",
                                                              "Must provide at least one file extension to include."}));
}

TEST_F(MxFTPMirror, ADirectionOutOfRangeOrAMissingLocalBaseFailsBeforeTheServerIsAsked) {
  FtpServer& server = ftptest::SharedServer(FtpServerKind::Pyftpdlib);
  Connect(server);
  const std::string nowhere = (local_.Path() / "nowhere").string();
  struct Case {
    int op;
    std::string localDir;
    TLine line;
  };
  for (const Case& c : std::vector<Case>{{2, Local().string(), {"Invalid Mirror Operation", 3}},
                                        {moLocalToRemote, nowhere, {"Local Directory " + nowhere + " does not exist.", 3}},
                                        {moRemoteToLocal, nowhere + "/", {"Local Directory " + nowhere + " does not exist.", 3}}}) {
    auto& m = Mirror(moLocalToRemote);
    m.SetMirrorOperation(c.op);
    m.SetLocalDir(c.localDir);
    m.SetDetailedLogging(true);
    EXPECT_FALSE(m.Execute());
    EXPECT_THAT(Capture.Log(), ElementsAre(c.line));
    Capture.Clear();
  }
}

// ---------------------------------------------------------------- both directions

TEST_P(MxFTPMirrorAll, UploadBuildsTheTreeThenMovesOnlyWhatChanged) {
  FtpServer& server = Server();
  Connect(server);
  Write(Local() / "top.txt", "top");
  Write(Local() / "a/b/deep.txt", "deep");
  Write(Local() / "with space/f g.txt", "spaced");
  Write(Local() / "d\xC3\xA9j\xC3\xA0/\xC3\xBC.txt", "non-ascii");
  fs::create_directories(Local() / "empty");
  Write(Local() / "keep.bak", "excluded by mask");
  Write(Local() / "sub/Thumbs.db", "excluded by name");
  Write(Local() / "tmp12/x.txt", "excluded by regex");
  Write(local_.Path() / "outside/secret.txt", "never sent");
  fs::create_directory_symlink("../outside", Local() / "link");
  // What the server has and the local tree does not: orphans.
  Write(Remote() / "old.txt", "orphan");
  Write(Remote() / "olddir/inner/x.txt", "orphan");

  auto& m = Mirror(moLocalToRemote);
  m.SetIncludeEmptyDirs(true);
  m.SetDeleteOrphans(true);
  m.SetCheckFileSize(true);
  m.SetCheckFileDate(true);
  m.SetLogExcludedFiles(true);
  for (const char* rule : {"File Mask=*.bak", "File Name=thumbs.DB", "RegEx=/tmp[0-9]+/"}) m.ExcludeList().Add(rule);

  ASSERT_TRUE(m.Execute()) << Capture.Dump();
  TTree expected = ReadTree(Local());
  expected.Files.erase("keep.bak");
  expected.Files.erase("sub/Thumbs.db");
  expected.Files.erase("tmp12/x.txt");
  EXPECT_EQ(ReadTree(Remote()), expected) << Capture.Dump();
  EXPECT_FALSE(fs::exists(Remote() / "link"));
  const auto texts = Capture.Texts();
  EXPECT_THAT(texts, Contains("Excluded: " + (Local() / "keep.bak").string()));
  EXPECT_THAT(texts, Contains("Excluded: " + (Local() / "tmp12/x.txt").string()));
  EXPECT_THAT(texts, Contains("Skipped link '" + (Local() / "link").string() +
                              "': links to directories are not followed"));
  EXPECT_THAT(texts, Contains("Deleted remote orphan '/" + folder_ + "/olddir/inner/x.txt'"));
  // Deepest first: the inner folder goes before its parent.
  const auto inner = std::find(texts.begin(), texts.end(), "Deleted remote orphan '/" + folder_ + "/olddir/inner'");
  const auto outer = std::find(texts.begin(), texts.end(), "Deleted remote orphan '/" + folder_ + "/olddir'");
  EXPECT_LT(inner, outer);
  EXPECT_THAT(texts, Contains("Successfully deleted 4 orphan items."));
  EXPECT_EQ(texts.back(), "FTP Mirror Complete");
  EXPECT_EQ(std::abs(m.ServerSkew()) <= 2, true) << m.ServerSkew();
  // The session is back where it was.
  EXPECT_EQ(Project.Context().Objects().OutstandingAcquisitions(), 0);

  Capture.Clear();
  ASSERT_TRUE(m.Execute()) << Capture.Dump();
  EXPECT_THAT(Uploaded(), IsEmpty()) << Capture.Dump();
  EXPECT_THAT(Capture.Texts(), Contains("Successfully uploaded 0 items."));
  EXPECT_THAT(Capture.Texts(), Contains("No orphaned items to delete."));

  // Changed after the upload (its clock is ahead of the server's listing by minutes).
  Write(Local() / "a/b/deep.txt", "deep, changed", -3min);
  Capture.Clear();
  ASSERT_TRUE(m.Execute()) << Capture.Dump();
  EXPECT_THAT(Uploaded(), ElementsAre("a/b/deep.txt"));
  EXPECT_EQ(ReadTree(Remote()).Files["a/b/deep.txt"], "deep, changed");
}

TEST_P(MxFTPMirrorAll, DownloadCopiesTheTreeNeverFollowsALinkAndRemovesLocalOrphans) {
  FtpServer& server = Server();
  Connect(server);
  Write(Remote() / "top.txt", "top");
  Write(Remote() / "a/b/deep.txt", "deep");
  Write(Remote() / "with space/f g.txt", "spaced");
  Write(Remote() / "d\xC3\xA9j\xC3\xA0/\xC3\xBC.txt", "non-ascii");
  fs::create_directories(Remote() / "empty");
  // A link from the tree to a folder beside it.
  Write(server.Root() / (folder_ + "-outside") / "secret.txt", "never fetched");
  fs::create_directory_symlink("../" + folder_ + "-outside", Remote() / "link");
  Write(Local() / "stale.txt", "orphan");
  Write(Local() / "gone/deeper/y.txt", "orphan");

  auto& m = Mirror(moRemoteToLocal);
  m.SetIncludeEmptyDirs(true);
  m.SetDeleteOrphans(true);
  m.SetCheckFileSize(true);
  m.SetCheckFileDate(true);
  ASSERT_TRUE(m.Execute()) << Capture.Dump();
  TTree expected = ReadTree(Remote());
  EXPECT_EQ(ReadTree(Local()), expected) << Capture.Dump();
  EXPECT_FALSE(fs::exists(Local() / "link"));
  EXPECT_THAT(Capture.Texts(), Contains(HasSubstr("/link'")));
  EXPECT_THAT(Capture.Texts(), Contains("Successfully deleted 4 orphan items."));

  Capture.Clear();
  ASSERT_TRUE(m.Execute()) << Capture.Dump();
  EXPECT_THAT(Downloaded(), IsEmpty()) << Capture.Dump();
  fs::remove_all(server.Root() / (folder_ + "-outside"));
}

TEST_P(MxFTPMirrorAll, TheCRCRuleFiresOnlyWhereContentsDiffer) {
  FtpServer& server = Server();
  Connect(server);
  // Same sizes, old local dates: neither the size nor the date rule sees the change.
  Write(Local() / "same.txt", "abcdef", 120min);
  Write(Local() / "sub/changed.txt", "abcdef", 120min);
  Write(Remote() / "same.txt", "abcdef");
  Write(Remote() / "sub/changed.txt", "ABCDEF");

  auto& m = Mirror(moLocalToRemote);
  m.SetCheckFileCRC(true);
  m.SetCheckFileSize(true);
  m.SetCheckFileDate(true);
  ASSERT_TRUE(m.Execute()) << Capture.Dump();
  if (server.Features().xcrc) {
    EXPECT_TRUE(m.CRCSupported());
    EXPECT_THAT(Uploaded(), ElementsAre("sub/changed.txt")) << Capture.Dump();
    EXPECT_EQ(ReadTree(Remote()), ReadTree(Local()));
  } else {
    EXPECT_FALSE(m.CRCSupported());
    EXPECT_THAT(Capture.Log(), Contains(TLine{"CRC is not supported by this FTP Server.", 2}));
    EXPECT_THAT(Uploaded(), IsEmpty()) << Capture.Dump();
  }
}

TEST_P(MxFTPMirrorAll, OldFilesThatListingsShowByDayAloneAreComparedToTheSecond) {
  FtpServer& server = Server();
  Connect(server);
  // Two hundred days ago at noon: listings show the day only.
  const auto noon = std::chrono::floor<std::chrono::days>(fs::file_time_type::clock::now()) - std::chrono::days(200) +
                    std::chrono::hours(12);
  struct Case {
    const char* name;
    std::chrono::minutes localAfterRemote;
    bool sent;
  };
  const std::vector<Case> cases{{"newer-30min.txt", 30min, true},
                                {"older-30min.txt", -30min, false},
                                {"newer-2days.txt", 48h, true},
                                {"older-2days.txt", -48h, false}};
  for (const Case& c : cases) {
    Write(Remote() / c.name, "same");
    fs::last_write_time(Remote() / c.name, noon);
    Write(Local() / c.name, "same");
    fs::last_write_time(Local() / c.name, noon + c.localAfterRemote);
  }
  auto& m = Mirror(moLocalToRemote);
  m.SetCheckFileDate(true);
  m.SetDetailedLogging(true);
  ASSERT_TRUE(m.Execute()) << Capture.Dump();
  // The skew's probe file asks once; the two files the day leaves open ask only where the
  // server has no MLSD to tell their times.
  const auto texts = Capture.Texts();
  const auto mdtm = std::count_if(texts.begin(), texts.end(),
                                  [](const std::string& t) { return t.rfind("Sent : MDTM", 0) == 0; });
  EXPECT_EQ(mdtm, server.Features().mlsd ? 1 : 3) << Capture.Dump();
  std::vector<std::string> expected;
  for (const Case& c : cases)
    if (c.sent) expected.push_back(c.name);
  std::sort(expected.begin(), expected.end());
  auto sent = Uploaded();
  std::sort(sent.begin(), sent.end());
  EXPECT_EQ(sent, expected) << Capture.Dump();
}

TEST_F(MxFTPMirror, FileSpecSendsMatchingFilesIntoDirectoriesItExcludes) {
  FtpServer& server = ftptest::SharedServer(FtpServerKind::Pyftpdlib);
  Connect(server);
  Write(Local() / "sub/a.txt", "a");
  Write(Local() / "sub/b.bin", "b");
  Write(Local() / "c.TXT", "c");
  auto& m = Mirror(moLocalToRemote);
  m.SetUseFileSpec(true);
  m.SetFileSpec(".txt, .cs");
  ASSERT_TRUE(m.Execute()) << Capture.Dump();
  EXPECT_THAT(Uploaded(), ElementsAre("c.TXT", "sub/a.txt"));
  EXPECT_EQ(ReadTree(Remote()), (TTree{{{"c.TXT", "c"}, {"sub/a.txt", "a"}}, {"sub"}}));
}

TEST_F(MxFTPMirror, ALocalOrphanFolderStillHoldingExcludedFilesFailsTheRun) {
  FtpServer& server = ftptest::SharedServer(FtpServerKind::Pyftpdlib);
  Connect(server);
  Write(Remote() / "kept.txt", "k");
  Write(Local() / "old/x.bak", "excluded, so never deleted");
  auto& m = Mirror(moRemoteToLocal);
  m.SetDeleteOrphans(true);
  m.ExcludeList().Add("File Mask=*.bak");
  EXPECT_FALSE(m.Execute());
  EXPECT_THAT(Capture.Texts().back(), HasSubstr("FTP Mirror failed. Cannot remove the local directory"));
  EXPECT_TRUE(fs::exists(Local() / "kept.txt"));
  EXPECT_TRUE(fs::exists(Local() / "old/x.bak"));
}

// ---------------------------------------------------------------- stops

TEST_F(MxFTPMirror, AStopAfterTheCurrentUploadThenARerunLeavesBothTreesEqual) {
  FtpServer& server = ftptest::SharedServer(FtpServerKind::Vsftpd);
  Connect(server);
  for (int i = 0; i < 40; ++i)
    Write(Local() / ("d" + std::to_string(i % 4)) / ("f" + std::to_string(i) + ".txt"), std::string(1000 + i, 'x'));
  auto& m = Mirror(moLocalToRemote);
  m.SetCheckFileSize(true);

  // The host's stop request arrives while the fifth file is being reported.
  int uploads = 0;
  Capture.Hook = [&](const std::string& text) {
    if (text.rfind("Uploaded '", 0) == 0 && ++uploads == 5) m.StopSignalled();
  };
  EXPECT_FALSE(m.Execute());
  Capture.Hook = nullptr;
  const auto log = Capture.Log();
  EXPECT_THAT(log, Contains(TLine{"FTP Operation will stop after current upload completes.", 3}));
  EXPECT_EQ(log.back(), (TLine{"FTP Mirror Aborted", 3}));
  EXPECT_THAT(Capture.Texts(), Not(Contains(HasSubstr("Successfully uploaded"))));
  EXPECT_EQ(ReadTree(Remote()).Files.size(), 5u);

  Capture.Clear();
  ASSERT_TRUE(m.Execute()) << Capture.Dump();
  EXPECT_EQ(ReadTree(Remote()), ReadTree(Local()));
  EXPECT_EQ(Uploaded().size(), 35u);
}

TEST_F(MxFTPMirror, AStopOfTheRunEndsTheTransferUnderWayAndARerunRepairsWhatItCut) {
  FtpServer& server = ftptest::SharedServer(FtpServerKind::Proftpd);
  Connect(server);
  for (int i = 0; i < 6; ++i) Write(Local() / ("f" + std::to_string(i) + ".bin"), std::string(4 << 20, char('a' + i)));
  auto& m = Mirror(moLocalToRemote);
  m.SetCheckFileSize(true);

  // The runner connects again first, which starts in the server's root.
  std::promise<void> second;
  int uploads = 0;
  Capture.Hook = [&](const std::string& text) {
    if (text.rfind("Uploaded '", 0) == 0 && ++uploads == 2) second.set_value();
  };
  host::TProjectRunner runner(Project);
  auto run = std::async(std::launch::async, [&] { return runner.Run(); });
  ASSERT_EQ(second.get_future().wait_for(20s), std::future_status::ready) << Capture.Dump();
  runner.RequestStop();
  ASSERT_EQ(run.wait_for(20s), std::future_status::ready);
  Capture.Hook = nullptr;
  EXPECT_EQ(run.get(), host::TRunResult::Stopped);
  EXPECT_THAT(Capture.Texts(), Contains("FTP Operation will stop after current upload completes."));
  EXPECT_THAT(Capture.Texts(), Contains("FTP Mirror Aborted")) << Capture.Dump();
  EXPECT_LT(ReadTree(Remote()).Files.size(), 6u);

  Capture.Clear();
  host::TProjectRunner again(Project);
  EXPECT_EQ(again.Run(), host::TRunResult::Success) << Capture.Dump();
  EXPECT_EQ(ReadTree(Remote()), ReadTree(Local()));
}

TEST_P(MxFTPMirrorAll, ATimeOutInsideADownloadLeavesNoTruncatedFileAndARerunCompletes) {
  FtpServer& server = Server();
  auto& connect = Connect(server);
  std::string big(48 << 20, '\0');
  for (std::size_t i = 0; i < big.size(); i += 4096) big[i] = static_cast<char>(i >> 12);
  Write(Remote() / "z/big.bin", big);
  fs::create_directories(Local());
  auto& m = Mirror<TQuickTimeoutMirror>(moRemoteToLocal);
  m.SetEnableTimeout(true);
  // Held at the big file's first progress report until the time-out has fired.
  bool held = false;
  std::string report;
  Project.Context().OnProgress = [&](const host::TMxAction&, const std::string& text, int) {
    if (!held && text.find("Transfered") != std::string::npos) {
      held = true;
      report = text;
      const auto until = std::chrono::steady_clock::now() + 10s;
      while (!m.GetTimedOut() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(10ms);
    }
  };
  EXPECT_FALSE(m.Execute());
  Project.Context().OnProgress = nullptr;
  EXPECT_TRUE(held);
  // The speed, then the bytes so far out of the whole plan's.
  EXPECT_THAT(report, ::testing::StartsWith("Download speed : "));
  EXPECT_THAT(report, HasSubstr("/s, "));
  EXPECT_THAT(report, ::testing::EndsWith("/" + rtl::FtpSizeText(std::int64_t{48} << 20) + " Transfered"));
  EXPECT_TRUE(m.GetTimedOut());
  const auto texts = Capture.Texts();
  EXPECT_THAT(texts, Contains("FTP Sync Timed Out after 10 minutes."));
  EXPECT_THAT(texts.back(), HasSubstr("FTP Mirror failed. "));
  // Nothing under the real name, and no piece left beside it.
  EXPECT_FALSE(fs::exists(Local() / "z/big.bin"));
  for (const auto& e : fs::recursive_directory_iterator(Local()))
    EXPECT_EQ(e.path().filename().string().find(".mirror-"), std::string::npos) << e.path();

  Capture.Clear();
  ASSERT_TRUE(connect.Execute()) << Capture.Dump();
  m.SetEnableTimeout(false);
  m.SetCheckFileSize(true);
  ASSERT_TRUE(m.Execute()) << Capture.Dump();
  EXPECT_EQ(ReadTree(Local()), ReadTree(Remote()));
}

// ---------------------------------------------------------------- hostile listings

TEST_F(MxFTPMirror, ListingNamesThatWouldLeaveTheLocalBaseAreRefusedAndTheRestIsMirrored) {
  testsupport::ScriptedPeer control, listing, file;
  auto& c = AddPeerConnect("Site1", control.Port());
  c.SetPassive(true);
  ftptest::ScriptLogin(control)
      .Expect("FEAT")
      .Send("211 no features\r\n")
      .Expect("PWD")
      .Send("257 \"/\"\r\n")
      .Expect("EPSV")
      .Send("229 ok (|||" + std::to_string(listing.Port()) + "|)\r\n")
      .Expect("LIST")
      .Send("150 here\r\n226 done\r\n")
      .Expect("TYPE I")
      .Send("200 ok\r\n")
      .Expect("EPSV")
      .Send("229 ok (|||" + std::to_string(file.Port()) + "|)\r\n")
      .Expect("RETR /good.txt")
      .Send("150 go\r\n226 sent\r\n")
      .Expect("QUIT")
      .Send("221 bye\r\n");
  listing
      .Send("-rw-r--r--   1 u  g   4 Jan 01  2024 ../escape.txt\r\n"
            "-rw-r--r--   1 u  g   4 Jan 01  2024 a\\b.txt\r\n"
            "drwxr-xr-x   2 u  g   0 Jan 01  2024 ..\r\n"
            "-rw-r--r--   1 u  g   4 Jan 01  2024 good.txt\r\n")
      .Close();
  file.Send("good").Close();
  control.Start();
  listing.Start();
  file.Start();
  ASSERT_TRUE(c.Execute()) << Capture.Dump();
  Capture.Clear();

  auto& m = Add<TFTPMirrorAction>();
  m.SetConnectionName("Site1");
  m.SetMirrorOperation(moRemoteToLocal);
  m.SetLocalDir(Local().string());
  m.SetSkipSkewCheck(true);
  fs::create_directories(Local());
  EXPECT_TRUE(m.Execute()) << Capture.Dump();
  c.Session()->Disconnect();
  control.Finish();
  EXPECT_THAT(control.Errors(), IsEmpty());
  EXPECT_THAT(Capture.Log(), Contains(TLine{"Refused the listing entry \"../escape.txt\" in /: a name from a listing "
                                            "must not hold a path",
                                            2}));
  EXPECT_THAT(Capture.Log(), Contains(TLine{"Refused the listing entry \"a\\b.txt\" in /: a name from a listing "
                                            "must not hold a path",
                                            2}));
  EXPECT_EQ(ReadTree(local_.Path()), (TTree{{{"base/good.txt", "good"}}, {"base"}}));
}

}  // namespace
}  // namespace mx
