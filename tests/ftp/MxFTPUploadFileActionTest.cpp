// The FTP upload action against real servers: single files, wildcards, trees and file sets,
// the only-if-changed rule with the learned clock skew, size checks, the retry over a dropped
// connection, throttling, progress, the time-out and the stop; exact transcripts against a
// scripted server where real ones cannot be made to answer as needed.
#include "ftp/MxFTPUploadFileAction.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "ftp/MxFTPChangeDirAction.h"
#include "host/MxFileSet.h"
#include "host/MxHostActions.h"
#include "host/MxRunner.h"
#include "tests/ftp/FtpTestSupport.h"
#include "tests/support/ScriptedPeer.h"
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
using ::testing::StartsWith;
using testsupport::FtpServerKind;

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// An upload whose time-out comes after a fraction of a second instead of minutes.
class TQuickTimeoutUpload : public TFTPUploadFileAction {
 public:
  std::chrono::milliseconds Length{300};

 protected:
  std::chrono::milliseconds TimeoutMonitorLength() override { return Length; }
};

class MxFTPUpload : public ::testing::Test, public ftptest::TFtpHost {
 protected:
  testsupport::FtpServer& Server(FtpServerKind kind = FtpServerKind::Pyftpdlib) {
    return ftptest::SharedServer(kind);
  }

  // A local file below the scratch folder, last written `minutesAgo` minutes ago.
  fs::path Local(const std::string& relative, const std::string& content, int minutesAgo = 60) {
    const fs::path p = local_.Path() / relative;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    Age(p, minutesAgo);
    return p;
  }
  static void Age(const fs::path& p, int minutesAgo) {
    fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::minutes(minutesAgo));
  }
  std::string LocalDir() const { return local_.Path().string(); }

  // A connected session "Site1" working in a fresh folder of the server.
  TFTPConnectionAction& Connect(FtpServerKind kind = FtpServerKind::Pyftpdlib) {
    folder_ = "up" + std::to_string(++folders_) + "-" + std::to_string(::getpid());
    Server(kind).MakeDir(folder_);
    kind_ = kind;
    auto& c = AddConnect("Site1", Server(kind));
    EXPECT_TRUE(c.Execute()) << Capture.Dump();
    c.Session()->ChangeDir("/" + folder_);
    Capture.Clear();
    return c;
  }
  fs::path Remote(const std::string& relative = {}) { return Server(kind_).Root() / folder_ / relative; }

  TFTPUploadFileAction& Upload(const std::string& spec, std::unique_ptr<TFTPUploadFileAction> a = nullptr) {
    auto& u = a ? Add(std::move(a)) : Add<TFTPUploadFileAction>();
    u.SetConnectionName("Site1");
    u.SetLocalDir(LocalDir());
    u.SetFileSpec(spec);
    return u;
  }

  // The local files sent, relative to the scratch folder, in order.
  std::vector<std::string> UploadedNames() const {
    const std::string start = "Uploading File : " + LocalDir() + "/";
    std::vector<std::string> out;
    for (const auto& t : Capture.Texts())
      if (t.rfind(start, 0) == 0) out.push_back(t.substr(start.size(), t.find(" to : ") - start.size()));
    return out;
  }

  testsupport::ScratchDir local_{"ftp-upload"};
  std::string folder_;
  static inline int folders_ = 0;  // the servers are shared by all tests of the program
  FtpServerKind kind_ = FtpServerKind::Pyftpdlib;
};

// ---------------------------------------------------------------- model

TEST_F(MxFTPUpload, IdentityDefaultsAndValidation) {
  TFTPUploadFileAction a;
  a.SetConnectionName("Site1");
  a.SetFileSpec("*.txt");
  a.SetFileSetName("web");
  EXPECT_EQ(a.GetActionName(), "FTP Upload");
  EXPECT_EQ(a.GetHelpTopicID(), 6180);
  EXPECT_EQ(a.GetFormattedDescription(), "FTP Upload [ Site1 ] [ *.txt ]");
  a.SetUseFileSpec(false);
  EXPECT_EQ(a.GetFormattedDescription(), "FTP Upload [ Site1 ] [ web ]");

  for (const auto& [name, def] : std::vector<std::pair<std::string, std::string>>{
           {"AutoUpdateSkew", "true"}, {"ForceNextClockSkewUpdate", "true"}, {"AllowGap", "true"},
           {"GapLength", "5"}, {"ThrottleSpeed", "128"}, {"TimeoutLength", "10"}, {"UseFileSpec", "true"},
           {"ServerClockSkew", "0"}, {"UpdateOnly", "false"}}) {
    const host::TPropInfo* p = a.GetProperties().Find(name);
    ASSERT_NE(p, nullptr) << name;
    EXPECT_EQ(p->DefaultText, def) << name;
    EXPECT_EQ(p->Learned, name == "ServerClockSkew" || name == "ForceNextClockSkewUpdate") << name;
  }
  a.SetThrottleSpeed(1);
  EXPECT_EQ(a.GetThrottleSpeed(), 4);

  host::TValidationErrors errors;
  a.SetFileSetName("");
  EXPECT_FALSE(a.Validate(errors));
  ASSERT_EQ(errors.Errors().size(), 1u);
  EXPECT_EQ(errors.Errors()[0].Property, "File Set");
  EXPECT_EQ(errors.Errors()[0].Message, "A File Set must be specified");
}

// ---------------------------------------------------------------- one file

TEST_F(MxFTPUpload, OneNamedFile) {
  Local("report.txt", "hello");
  Local("empty.txt", "");
  fs::create_directories(local_.Path() / "folder.txt");
  Local(".hidden", "h");
  struct TCase {
    const char* what;
    const char* spec;
    const char* remote;
    bool checkSizes;
    bool result;
    std::vector<TLine> log;  // "*" for an error text of the system's
    const char* remoteFile;  // what the server holds afterwards, or null
  } const cases[] = {
      {"local name", "report.txt", "", false, true,
       {{"Uploading File : report.txt to : ", 0},
        {"Uploading File : " + LocalDir() + "/report.txt to : ", 0},
        {"File Uploaded : 5 bytes", 1}},
       "report.txt"},
      {"another remote name with blanks and accents", "report.txt", "Bericht für März.txt", false, true,
       {{"Uploading File : report.txt to : Bericht für März.txt", 0},
        {"Uploading File : " + LocalDir() + "/report.txt to : Bericht für März.txt", 0},
        {"File Uploaded : 5 bytes", 1}},
       "Bericht für März.txt"},
      {"empty file, sizes checked", "empty.txt", "", true, true,
       {{"Uploading File : empty.txt to : ", 0},
        {"Uploading File : " + LocalDir() + "/empty.txt to : ", 0},
        {"Checking File Size", 0},
        {"File Uploaded : 0 bytes  - size ok", 1}},
       "empty.txt"},
      {"hidden file named directly", ".hidden", "", false, true,
       {{"Uploading File : .hidden to : ", 0},
        {"Uploading File : " + LocalDir() + "/.hidden to : ", 0},
        {"File Uploaded : 1 bytes", 1}},
       ".hidden"},
      {"missing", "nosuch.txt", "", false, false, {{"Upload failed.", 3}, {"File nosuch.txt not found!", 3}}, nullptr},
      {"unreadable", "folder.txt", "", false, false,
       {{"Uploading File : folder.txt to : ", 0},
        {"Uploading File : " + LocalDir() + "/folder.txt to : ", 0},
        {"Upload failed.", 3},
        {"*", 3}},
       nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto& connect = Connect();
    auto& up = Upload(c.spec);
    up.SetRemoteFile(c.remote);
    up.SetCheckFileSizes(c.checkSizes);
    EXPECT_EQ(up.Execute(), c.result) << Capture.Dump();
    const auto log = Capture.Log();
    ASSERT_EQ(log.size(), c.log.size()) << Capture.Dump();
    for (std::size_t i = 0; i < log.size(); ++i) {
      if (c.log[i].Text == "*")
        EXPECT_EQ(log[i].Tag, 3);
      else
        EXPECT_EQ(log[i], c.log[i]);
    }
    if (c.remoteFile) { EXPECT_EQ(ReadFile(Remote(c.remoteFile)), ReadFile(local_.Path() / c.spec)); }
    // A local file that cannot be read costs nothing on the server's side.
    EXPECT_TRUE(connect.Session()->IsConnected());
    EXPECT_EQ(Project.Context().Objects().OutstandingAcquisitions(), 0);
    Project.Actions.clear();
    Capture.Clear();
  }
}

TEST_F(MxFTPUpload, ARemoteDirectoryThatIsNotWritableFailsWithTheServersReply) {
  Local("a.txt", "a");
  Connect(FtpServerKind::Vsftpd);
  fs::create_directories(Remote("locked"));
  fs::permissions(Remote("locked"), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                        fs::perms::others_read | fs::perms::others_exec);
  auto& up = Upload("a.txt");
  up.SetRemoteFile("locked/a.txt");
  EXPECT_FALSE(up.Execute());
  const auto log = Capture.Log();
  ASSERT_GE(log.size(), 2u) << Capture.Dump();
  EXPECT_EQ(log[log.size() - 2], (TLine{"Upload failed.", 3}));
  EXPECT_THAT(log.back().Text, StartsWith("553 "));
  EXPECT_FALSE(fs::exists(Remote("locked/a.txt")));
}

// ---------------------------------------------------------------- several files

TEST_F(MxFTPUpload, AWildcardSendsTheOrdinaryMatchingFilesOfTheDirectory) {
  Local("a.txt", "aa");
  Local("b.txt", "bbb");
  Local("c.log", "c");
  Local(".h.txt", "hidden");
  Local("sub/d.txt", "in a subdirectory");
  Connect();
  auto& up = Upload("*.txt");
  up.SetRemoteFile("ignored.txt");
  EXPECT_TRUE(up.Execute()) << Capture.Dump();
  EXPECT_THAT(Capture.Log(),
              ElementsAre(TLine{"Total upload size will be 5 bytes", 0},
                          TLine{"Remote filename ignored since multiple files will be uploaded", 0},
                          TLine{"Uploading File : " + LocalDir() + "/a.txt to : a.txt", 0},
                          TLine{"File Uploaded : 2 bytes", 1},
                          TLine{"Uploading File : " + LocalDir() + "/b.txt to : b.txt", 0},
                          TLine{"File Uploaded : 3 bytes", 1}));
  EXPECT_EQ(ReadFile(Remote("b.txt")), "bbb");
  EXPECT_FALSE(fs::exists(Remote("c.log")));
  EXPECT_FALSE(fs::exists(Remote(".h.txt")));
  EXPECT_FALSE(fs::exists(Remote("ignored.txt")));
}

TEST_F(MxFTPUpload, ARecursiveUploadRecreatesTheTreeAndEndsWhereItStarted) {
  for (const FtpServerKind kind : testsupport::AllFtpServerKinds()) {
    SCOPED_TRACE(testsupport::FtpServerName(kind));
    Local("top.txt", "t");
    Local("sub/x.txt", "x");
    Local("sub/deeper/y.txt", "y");
    Local("with blank ä/z.txt", "z");
    auto& connect = Connect(kind);
    // An existing remote directory is entered as it is.
    fs::create_directories(Remote("sub"));
    auto& up = Upload("*.*");
    up.SetRecursive(true);
    EXPECT_TRUE(up.Execute()) << Capture.Dump();
    for (const char* f : {"top.txt", "sub/x.txt", "sub/deeper/y.txt", "with blank ä/z.txt"})
      EXPECT_EQ(ReadFile(Remote(f)), ReadFile(local_.Path() / f)) << f;
    EXPECT_EQ(connect.Session()->GetRemoteDir(), "/" + folder_);
    const auto texts = Capture.Texts();
    EXPECT_THAT(texts, Contains("Total upload size will be 4 bytes"));
    EXPECT_THAT(texts, Not(Contains("Created remote dir: sub")));
    EXPECT_THAT(texts, Contains("Created remote dir: deeper"));
    EXPECT_THAT(texts, Contains("Changing to remote dir: sub"));
    EXPECT_THAT(texts, Contains("Uploading File : " + LocalDir() + "/sub/deeper/y.txt to : sub/deeper/y.txt"));
    EXPECT_THAT(UploadedNames(), ElementsAre("top.txt", "sub/x.txt", "sub/deeper/y.txt", "with blank ä/z.txt"));
    Project.Actions.clear();
    Capture.Clear();
  }
}

TEST_F(MxFTPUpload, ARemoteDirectoryThatCannotBeEnteredEndsTheRecursiveUpload) {
  Local("a/x.txt", "x");
  Connect();
  // A file where the directory should be: MKD fails (ignored), CWD fails.
  std::ofstream(Remote("a")) << "not a directory";
  auto& up = Upload("*.*");
  up.SetRecursive(true);
  EXPECT_FALSE(up.Execute());
  const auto log = Capture.Log();
  ASSERT_GE(log.size(), 2u) << Capture.Dump();
  EXPECT_EQ(log[log.size() - 2], (TLine{"Changing directory to a failed", 3}));
}

// ---------------------------------------------------------------- file sets

TEST_F(MxFTPUpload, AFileSetIsSentBelowTheStartDirectory) {
  Local("site/index.html", "<html>");
  Local("site/css/a.css", "a{}");
  Local("site/css/b.css", "b{}");
  Local("site/img/x/y.png", "png");
  Local("site/notes.txt", "not in the set");
  auto& connect = Connect();
  auto& define = Add<host::TDefineFileSetAction>();
  define.SetFileSetName("web");
  define.SetBaseDirectory((local_.Path() / "site").string());
  define.GetIncludeMasks().Add("*.html");
  define.GetIncludeMasks().Add("*.css");
  define.GetIncludeMasks().Add("*.png");
  define.SetRecursive(true);
  ASSERT_TRUE(define.Execute()) << Capture.Dump();
  Capture.Clear();

  auto& up = Add<TFTPUploadFileAction>();
  up.SetConnectionName("Site1");
  up.SetUseFileSpec(false);
  up.SetFileSetName("web");
  EXPECT_TRUE(up.Execute()) << Capture.Dump();
  for (const char* f : {"index.html", "css/a.css", "css/b.css", "img/x/y.png"})
    EXPECT_EQ(ReadFile(Remote(f)), ReadFile(local_.Path() / "site" / f)) << f;
  EXPECT_FALSE(fs::exists(Remote("notes.txt")));
  EXPECT_EQ(connect.Session()->GetRemoteDir(), "/" + folder_);
  const std::string start = "/" + folder_;
  const auto texts = Capture.Texts();
  EXPECT_EQ(texts.front(), "Total upload size estimated at 15 bytes");
  EXPECT_THAT(texts, Contains("Created remote dir: " + start + "/img/x/"));
  EXPECT_THAT(texts, Contains("Changing to remote dir: " + start + "/css/"));
  EXPECT_THAT(UploadedNames(), ElementsAre("site/css/a.css", "site/css/b.css", "site/img/x/y.png", "site/index.html"));
  EXPECT_THAT(texts, Contains("Uploading File : " + LocalDir() + "/site/img/x/y.png to : " + start + "/img/x/y.png"));
  EXPECT_THAT(texts, Contains("Uploading File : " + LocalDir() + "/site/index.html to : index.html"));
  EXPECT_EQ(Project.Context().Objects().OutstandingAcquisitions(), 0);

  Capture.Clear();
  up.SetFileSetName("nosuch");
  EXPECT_FALSE(up.Execute());
  EXPECT_THAT(Capture.Log(), ElementsAre(TLine{"Could not find File Set: nosuch", 3}));
}

// A file set whose list holds a path outside its base directory.
class TStrayFileSet final : public host::IFileSet {
 public:
  TStrayFileSet(std::string base, std::string list) : base_(std::move(base)), list_(std::move(list)) {}
  std::string Get_Category() override { return host::k_file_set_category; }
  std::string Get_Name() override { return "stray"; }
  void Set_Name(const std::string&) override {}
  void Reset() override {}
  std::string GetBaseDirectory() override { return base_; }
  std::string GetFileListText(int, const std::string&) override { return list_; }
  std::int64_t GetTotalSize() override { return 2; }

 private:
  std::string base_, list_;
};

TEST_F(MxFTPUpload, AFileSetEntryOutsideItsBaseStopsTheUploadThere) {
  const fs::path inside = Local("base/a.txt", "a");
  const fs::path outside = Local("elsewhere/b.txt", "b");
  Connect();
  Project.Context().Objects().AddObject(std::make_shared<TStrayFileSet>(
      (local_.Path() / "base").string(), inside.string() + "\r\n" + outside.string()));
  auto& up = Add<TFTPUploadFileAction>();
  up.SetConnectionName("Site1");
  up.SetUseFileSpec(false);
  up.SetFileSetName("stray");
  EXPECT_FALSE(up.Execute());
  EXPECT_EQ(Capture.Log().back(),
            (TLine{"Error : File " + outside.string() + " is not within the FileSet base directory", 3}));
  EXPECT_TRUE(fs::exists(Remote("a.txt")));
  EXPECT_FALSE(fs::exists(Remote("b.txt")));
}

// ---------------------------------------------------------------- only if changed

// The second run of the same upload sends only what changed, on every server (their listings
// tell dates to the second, the minute or the day).
TEST_F(MxFTPUpload, ASecondRunSkipsUnchangedFilesAndSendsChangedOnes) {
  for (const FtpServerKind kind : testsupport::AllFtpServerKinds()) {
    for (const bool wildcard : {true, false}) {
      SCOPED_TRACE(std::string(testsupport::FtpServerName(kind)) + (wildcard ? ", wildcard" : ", one file"));
      Local("a.txt", "aaaa");
      Local("b.txt", "bbbb");
      Local("c.txt", "cccc");
      Connect(kind);
      auto& up = Upload(wildcard ? "*.txt" : "b.txt");
      up.SetUpdateOnly(true);
      up.SetServerClockSkew(30);
      EXPECT_TRUE(up.Execute()) << Capture.Dump();
      // The first file teaches the skew: the server's clock is this machine's.
      EXPECT_THAT(Capture.Texts(), Contains("(Updated server clock skew from 30 to 0 minutes.)"));
      EXPECT_EQ(up.GetServerClockSkew(), 0);
      EXPECT_FALSE(up.GetForceNextClockSkewUpdate());
      const std::vector<std::string> first =
          wildcard ? std::vector<std::string>{"a.txt", "b.txt", "c.txt"} : std::vector<std::string>{"b.txt"};
      EXPECT_EQ(UploadedNames(), first);

      Capture.Clear();
      Local("a.txt", "a new size");  // another size, an hour old
      Age(local_.Path() / "b.txt", 0);  // touched: the same size, newer than the server's copy
      Age(local_.Path() / "c.txt", 3);  // written within the gap before the server's copy
      EXPECT_TRUE(up.Execute()) << Capture.Dump();
      if (wildcard) {
        EXPECT_THAT(UploadedNames(), ElementsAre("a.txt", "b.txt", "c.txt"));
        EXPECT_EQ(ReadFile(Remote("a.txt")), "a new size");
      } else {
        EXPECT_THAT(UploadedNames(), ElementsAre("b.txt"));
      }

      Capture.Clear();
      for (const char* f : {"a.txt", "b.txt", "c.txt"}) Age(local_.Path() / f, 60);
      EXPECT_TRUE(up.Execute()) << Capture.Dump();
      EXPECT_THAT(UploadedNames(), IsEmpty());
      EXPECT_THAT(Capture.Texts(),
                  Contains("Skipping file " + LocalDir() + "/b.txt (older than version on server.)"));
      Project.Actions.clear();
      Capture.Clear();
      fs::remove_all(local_.Path());
      fs::create_directories(local_.Path());
    }
  }
}

// Sizes beyond 32 bits compare as they are: a sparse 5 GiB file that the server holds already
// is skipped, both by the listing and by SIZE.
TEST_F(MxFTPUpload, SizesAboveFourGigabytesStayWhole) {
  const std::int64_t size = (5ll << 30) + 3;
  for (const bool wildcard : {true, false}) {
    SCOPED_TRACE(wildcard ? "wildcard" : "one file");
    Connect();
    for (const fs::path& p : {local_.Path() / "huge.bin", Remote("huge.bin")}) {
      std::ofstream(p, std::ios::binary).close();
      fs::resize_file(p, static_cast<std::uintmax_t>(size));
    }
    Age(local_.Path() / "huge.bin", 60);
    auto& up = Upload(wildcard ? "*.bin" : "huge.bin");
    up.SetUpdateOnly(true);
    up.SetForceNextClockSkewUpdate(false);
    EXPECT_TRUE(up.Execute()) << Capture.Dump();
    if (wildcard) { EXPECT_EQ(Capture.Texts().front(), "Total upload size will be 5 GB"); }
    EXPECT_EQ(Capture.Texts().back(),
              "Skipping file " + LocalDir() + "/huge.bin (older than version on server.)");
    fs::remove(Remote("huge.bin"));
    Project.Actions.clear();
    Capture.Clear();
  }
}

// A local file that goes away while the server is asked about it has no date to compare: it
// is removed here while the directory's listing arrives.
TEST_F(MxFTPUpload, ALocalFileWithoutADateFailsTheOnlyIfChangedTest) {
  const fs::path p = Local("gone.txt", "old");
  Connect();
  std::ofstream(Remote("gone.txt")) << "old";
  Project.Context().OnProgress = [&](const host::TMxAction&, const std::string&, int) { fs::remove(p); };
  auto& up = Upload("*.txt");
  up.SetUpdateOnly(true);
  up.SetForceNextClockSkewUpdate(false);
  EXPECT_FALSE(up.Execute());
  EXPECT_EQ(Capture.Log().back(), (TLine{"Error : Could not get date from local file " + p.string(), 3}));
}

// ---------------------------------------------------------------- scripted server

struct TExchange {
  std::string line, reply;
};

// A control connection that accepts one STOR of `name` into a data peer, then answers the rest.
void PlayUpload(testsupport::ScriptedPeer& control, testsupport::ScriptedPeer& data, const std::string& name,
                const std::vector<TExchange>& after) {
  data.Start();
  control.Send("220 hi\r\n")
      .Expect("USER u")
      .Send("331 pw\r\n")
      .Expect("PASS p")
      .Send("230 in\r\n")
      .Expect("FEAT")
      .Send("211-Features:\r\n MDTM\r\n SIZE\r\n211 End\r\n")
      .Expect("TYPE I")
      .Send("200 ok\r\n")
      .Expect("EPSV")
      .Send("229 ok (|||" + std::to_string(data.Port()) + "|)\r\n")
      .Expect("STOR " + name)
      .Send("150 go\r\n226 stored\r\n");
  for (const TExchange& e : after) control.Expect(e.line).Send(e.reply);
  control.Expect("QUIT").Send("221 bye\r\n");
  control.Start();
}

TEST_F(MxFTPUpload, SizeChecksAndTheLearnedSkewFollowTheServersAnswers) {
  Local("f.txt", "hello");
  // The server's clock runs two hours ahead of this one.
  const std::string ahead = rtl::FormatDateTime("yyyymmddhhnnss", rtl::LocalToUTC(rtl::IncHour(rtl::Now(), 2)));
  struct TCase {
    const char* what;
    std::vector<TExchange> after;
    bool result;
    std::vector<TLine> tail;
  } const cases[] = {
      {"size differs",
       {{"SIZE f.txt", "213 999\r\n"}},
       false,
       {{"Checking File Size", 0}, {"Uploaded File :f.txt file size(999) is not the same as local file(5)", 3}}},
      {"no size from the server",
       {{"SIZE f.txt", "550 no size\r\n"}},
       false,
       {{"Checking File Size", 0}, {"Uploaded File :f.txt file size(-1) is not the same as local file(5)", 3}}},
      {"size ok, skew learned",
       {{"SIZE f.txt", "213 5\r\n"}, {"MDTM f.txt", "213 " + ahead + "\r\n"}},
       true,
       {{"Checking File Size", 0},
        {"File Uploaded : 5 bytes  - size ok", 1},
        {"(Updated server clock skew from 0 to 120 minutes.)", 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::ScriptedPeer control, data;
    PlayUpload(control, data, "f.txt", c.after);
    auto& connect = Add<TFTPConnectionAction>();
    connect.SetFTPConnectionName("Peer");
    connect.SetFTPHost("127.0.0.1");
    connect.SetFTPPort(control.Port());
    connect.SetUserID("u");
    connect.SetPassword("p");
    connect.SetPassive(true);
    ASSERT_TRUE(connect.Execute()) << Capture.Dump();
    Capture.Clear();
    auto& up = Upload("f.txt");
    up.SetConnectionName("Peer");
    up.SetCheckFileSizes(true);
    up.SetUpdateOnly(true);
    EXPECT_EQ(up.Execute(), c.result) << Capture.Dump();
    auto log = Capture.Log();
    ASSERT_GE(log.size(), c.tail.size());
    log.erase(log.begin(), log.end() - static_cast<std::ptrdiff_t>(c.tail.size()));
    EXPECT_EQ(log, c.tail) << Capture.Dump();
    if (c.result) { EXPECT_EQ(up.GetServerClockSkew(), 120); }
    connect.Session()->Disconnect();
    data.Finish();
    EXPECT_EQ(data.Received(), std::vector<std::string>{"hello"});
    EXPECT_TRUE(control.Errors().empty()) << control.Errors().front();
    Project.Actions.clear();
    Capture.Clear();
  }
}

// ---------------------------------------------------------------- retry, stop, time-out

// A connection that drops in the middle of a transfer fails the file with the socket's reason;
// the retry reconnects, goes back to the directory it was in, and sends the file.
TEST_F(MxFTPUpload, TheRetryTakesAConnectionDroppedMidTransfer) {
  Local("big.bin", std::string(256 * 1024, 'b'));
  Local("sub/small.txt", "s");
  for (const bool retry : {false, true}) {
    SCOPED_TRACE(retry ? "with retry" : "without retry");
    Connect(FtpServerKind::Vsftpd);
    fs::create_directories(Remote("sub"));
    // Slow enough to be cut: 64 KB/s.
    auto& up = Upload("*.*");
    up.SetRecursive(true);
    up.SetThrottleUpload(true);
    up.SetThrottleSpeed(64);
    up.SetRetryIfUploadFails(retry);
    std::once_flag once;
    std::thread killer;
    Capture.Hook = [&](const std::string& text) {
      if (text.rfind("Uploading File : " + LocalDir() + "/big.bin", 0) != 0) return;
      std::call_once(once, [&] {
        killer = std::thread([this] {
          std::this_thread::sleep_for(300ms);
          Server(FtpServerKind::Vsftpd).KillSessions();
        });
      });
    };
    EXPECT_EQ(up.Execute(), retry) << Capture.Dump();
    if (killer.joinable()) killer.join();
    Capture.Hook = nullptr;
    const auto texts = Capture.Texts();
    EXPECT_THAT(texts, Contains("Upload failed."));
    if (retry) {
      EXPECT_THAT(texts, Contains("Retrying upload..."));
      EXPECT_THAT(texts, Contains("Connected OK."));
      EXPECT_EQ(fs::file_size(Remote("big.bin")), 256u * 1024);
      EXPECT_EQ(ReadFile(Remote("sub/small.txt")), "s");
    } else {
      EXPECT_THAT(texts, Not(Contains("Retrying upload...")));
      EXPECT_FALSE(fs::exists(Remote("sub/small.txt")));
    }
    Project.Actions.clear();
    Capture.Clear();
  }
}

// The time-out ends the transfer under way with its two lines, within a moment.
TEST_F(MxFTPUpload, TheTimeOutEndsTheTransferWithItsMessages) {
  Local("big.bin", std::string(1 << 20, 'b'));
  Connect();
  auto& up = Upload("big.bin", std::make_unique<TQuickTimeoutUpload>());
  up.SetEnableTimeout(true);
  up.SetThrottleUpload(true);
  up.SetThrottleSpeed(16);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(up.Execute());
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 300ms + 200ms);
  EXPECT_TRUE(up.GetTimedOut());
  const auto texts = Capture.Texts();
  EXPECT_THAT(texts, Contains("FTP Upload Timed Out after 10 minutes."));
  const auto sent = std::find_if(texts.begin(), texts.end(), [](const std::string& t) {
    return std::regex_match(t, std::regex("[0-9]+ / 1048576 bytes sent\\."));
  });
  EXPECT_NE(sent, texts.end()) << Capture.Dump();
  EXPECT_THAT(texts, Contains("Aborting FTP operation..."));
  EXPECT_THAT(texts, Contains("Upload failed."));
  EXPECT_THAT(texts, Not(Contains("Retrying upload...")));
}

// A stop ends a transfer under way within a moment, and one between files sends no more.
TEST_F(MxFTPUpload, AStopEndsTheTransferOrTheFileLoop) {
  for (const bool inside : {true, false}) {
    SCOPED_TRACE(inside ? "inside a transfer" : "between files");
    Local("a.bin", std::string(inside ? 1 << 20 : 10, 'a'));
    Local("b.bin", "b");
    Connect();
    Project.Actions.clear();  // the runner runs the project: connect and change dir first
    AddConnect("Site1", Server());
    AddCommand<TFTPChangeDirAction>("Site1").SetRemoteDir("/" + folder_);
    auto& up = Upload("*.bin");
    up.SetThrottleUpload(true);
    up.SetThrottleSpeed(16);
    up.SetRetryIfUploadFails(true);
    host::TProjectRunner runner(Project);
    std::chrono::steady_clock::time_point stoppedAt{};
    std::once_flag once;
    std::thread stopper;
    const std::string trigger =
        inside ? "Uploading File : " + LocalDir() + "/a.bin to : a.bin" : "File Uploaded : 10 bytes";
    Capture.Hook = [&](const std::string& text) {
      if (text != trigger) return;
      std::call_once(once, [&] {
        // Inside: well into the transfer, from another thread; between files: right here.
        stopper = std::thread([&] {
          if (inside) std::this_thread::sleep_for(200ms);
          stoppedAt = std::chrono::steady_clock::now();
          runner.RequestStop();
        });
        if (!inside) stopper.join();
      });
    };
    auto run = std::async(std::launch::async, [&] { return runner.Run(); });
    ASSERT_EQ(run.wait_for(20s), std::future_status::ready) << Capture.Dump();
    const auto end = std::chrono::steady_clock::now();
    if (stopper.joinable()) stopper.join();
    EXPECT_EQ(run.get(), host::TRunResult::Stopped);
    Capture.Hook = nullptr;
    if (inside) { EXPECT_LT(end - stoppedAt, 200ms); }
    EXPECT_THAT(UploadedNames(), ElementsAre("a.bin"));
    EXPECT_THAT(Capture.Texts(), Not(Contains("Retrying upload...")));
    EXPECT_EQ(Project.Context().Objects().OutstandingAcquisitions(), 0);
    Project.Actions.clear();
    Capture.Clear();
  }
}

// ---------------------------------------------------------------- throttle and progress

TEST_F(MxFTPUpload, ThrottleAndProgressWithSizeTexts) {
  Local("a.bin", std::string(300 * 1024, 'a'));
  auto& connect = Connect();
  std::mutex mu;
  std::vector<std::pair<std::string, int>> progress;
  Project.Context().OnProgress = [&](const host::TMxAction&, const std::string& text, int percent) {
    std::lock_guard lock(mu);
    progress.emplace_back(text, percent);
  };
  auto& up = Upload("a.bin");
  up.SetThrottleUpload(true);
  up.SetThrottleSpeed(128);
  EXPECT_TRUE(up.Execute()) << Capture.Dump();
  EXPECT_EQ(connect.Session()->MaxTransferSpeed(), 128 * 1024);
  std::lock_guard lock(mu);
  ASSERT_GE(progress.size(), 2u);
  EXPECT_EQ(progress.front(), (std::pair<std::string, int>{"Upload speed : 0.00 KB/s", 0}));
  const std::regex line("Upload speed : [0-9]+ KB/s,  [0-9]+ KB/300 KB Transferred");
  EXPECT_TRUE(std::any_of(progress.begin(), progress.end(), [&](const auto& p) {
    return std::regex_match(p.first, line) && p.second > 0 && p.second < 100;
  })) << progress.size();
  EXPECT_FALSE(connect.Session()->GetOnWork());
}

}  // namespace
}  // namespace mx
