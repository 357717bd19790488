// The FTP script action: its items (Clone, persistence, load errors), validation, and whole runs
// of a persisted script against real servers — every item kind with its log, the events and
// what their scripts change, the global options, the detailed log, 64-bit sizes, bad input with
// and without IgnoreError, and a stop in the middle of a transfer.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ftp/MxFTP.h"
#include "host/MxCrypto.h"
#include "host/MxHostActions.h"
#include "host/MxRunner.h"
#include "host/MxScripting.h"
#include "tests/ftp/FtpTestSupport.h"
#include "tests/support/ServerProcess.h"

namespace mx {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ftptest::TLine;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::UnorderedElementsAre;
using testsupport::FtpServer;
using testsupport::FtpServerKind;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const fs::path& p, const std::string& content) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << content;
}

// A file of `size` bytes that is all hole: large sizes without the disk space or the writing.
void MakeHole(const fs::path& p, std::int64_t size) {
  const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << p;
  EXPECT_EQ(::ftruncate(fd, size), 0);
  ::close(fd);
}

std::string Esc(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else
      out += c;
  }
  return out;
}

// One <child> item: class, then property name/value pairs.
struct TItem {
  std::string Class;
  std::vector<std::pair<std::string, std::string>> Props;
};

std::string ItemXml(const TItem& item) {
  std::string out = "      <child class=\"" + item.Class + "\">\n";
  for (const auto& [name, value] : item.Props)
    out += "        <property name=\"" + name + "\">" + Esc(value) + "</property>\n";
  return out + "      </child>\n";
}

// A project of one FTP script action to the server with these items, events and variables.
std::string ProjectXml(const FtpServer& server, const std::vector<TItem>& items,
                       const std::vector<std::pair<std::string, std::string>>& scripts = {},
                       const std::vector<std::pair<std::string, std::string>>& variables = {},
                       const std::string& extraProps = {}) {
  std::string out = "<project name=\"ftp-script\">\n  <variables>\n";
  for (const auto& [name, value] : variables)
    out += "    <variable name=\"" + name + "\">" + Esc(value) + "</variable>\n";
  out += "  </variables>\n  <actions>\n    <action class=\"TFTPAction\">\n";
  out += "      <property name=\"Host\">" + server.Host() + "</property>\n";
  out += "      <property name=\"Port\">" + std::to_string(server.Port()) + "</property>\n";
  out += "      <property name=\"UserID\">" + server.User() + "</property>\n";
  out += "      <property name=\"EncryptedPassword\">" +
         host::TCryptoUtils::EncryptString(server.Password()) + "</property>\n";
  out += "      <property name=\"Passive\">true</property>\n" + extraProps;
  for (const TItem& item : items) out += ItemXml(item);
  for (const auto& [name, text] : scripts)
    out += "      <script name=\"" + name + "\" language=\"lua\">" + Esc(text) + "</script>\n";
  return out + "    </action>\n  </actions>\n</project>\n";
}

// A loaded project with its log captured.
struct TLoaded {
  TLoaded(const std::string& xml, host::THost& host)
      : Project(host::TProject::LoadFromString(xml, "ftp-script.xml", host)), Capture(Project->Context()) {}
  TFTPAction& Action() { return dynamic_cast<TFTPAction&>(*Project->Actions.at(0)); }
  host::TRunResult Run() {
    host::TProjectRunner runner(*Project);
    return runner.Run();
  }
  std::string Variable(const std::string& name) { return Project->Context().GetVariable(name).AsString(); }

  std::unique_ptr<host::TProject> Project;
  testsupport::ActionLog Capture;
};

class MxFTPScript : public ::testing::Test, public ftptest::TFtpHost {
 protected:
  MxFTPScript() { RegisterFTPScript(false); }
  std::string Folder() { return ftptest::TestFolder(); }
  std::string LocalDir() { return Local.Path().string(); }

  testsupport::ScratchDir Local{"ftp-script"};
};

class MxFTPScriptAll : public MxFTPScript, public ::testing::WithParamInterface<FtpServerKind> {
 protected:
  FtpServer& Server() { return ftptest::SharedServer(GetParam()); }
};

// The servers the issue names for the script action.
INSTANTIATE_TEST_SUITE_P(Servers, MxFTPScriptAll,
                         ::testing::Values(FtpServerKind::Vsftpd, FtpServerKind::Pyftpdlib),
                         [](const auto& p) { return std::string(testsupport::FtpServerName(p.param)); });

// ---------------------------------------------------------------- items

// Every item class with each of its stored properties set away from its default.
std::vector<std::unique_ptr<TFTPScriptItem>> EveryItemSetAwayFromDefaults(host::THost& host) {
  std::vector<std::unique_ptr<TFTPScriptItem>> items;
  for (const auto& cls : host.XMLClasses().Classes()) {
    auto made = cls.Create();
    auto* item = dynamic_cast<TFTPScriptItem*>(made.get());
    if (!item) continue;
    made.release();
    int n = 0;
    for (const host::TPropInfo& p : item->GetProperties()) {
      ++n;
      if (p.Kind == host::TPropKind::Boolean)
        item->SetPropertyText(p.Name, p.DefaultText == "true" ? "false" : "true");
      else
        item->SetPropertyText(p.Name, p.Name + " value " + std::to_string(n) + " %X%");
    }
    items.emplace_back(item);
  }
  return items;
}

std::vector<std::pair<std::string, std::string>> PropertyTexts(const host::TPublishedObject& o) {
  std::vector<std::pair<std::string, std::string>> out{{"class", o.ClassName()}};
  for (const host::TPropInfo& p : o.GetProperties()) out.emplace_back(p.Name, o.GetPropertyText(p.Name));
  return out;
}

TEST_F(MxFTPScript, TheElevenItemClassesAreRegisteredAndCloneEveryProperty) {
  const auto items = EveryItemSetAwayFromDefaults(Host);
  std::vector<std::string> classes;
  for (const auto& item : items) {
    classes.push_back(item->ClassName());
    const std::shared_ptr<TFTPScriptItem> copy = item->Clone();
    EXPECT_NE(copy.get(), item.get());
    EXPECT_EQ(PropertyTexts(*copy), PropertyTexts(*item));
  }
  EXPECT_THAT(classes, ElementsAre("TFTPScriptGetCurrentDir", "TFTPScriptChangeDir", "TFTPScriptChangeDirUp",
                                   "TFTPScriptListDir", "TFTPScriptMakeDir", "TFTPScriptDeleteDir",
                                   "TFTPScriptFileSize", "TFTPScriptDeleteFile", "TFTPScriptRenameFile",
                                   "TFTPScriptUploadFile", "TFTPScriptDownloadFile"));
  // A download copies as a download, not as the upload it derives from.
  EXPECT_EQ(TFTPScriptDownloadFile().Clone()->ClassName(), "TFTPScriptDownloadFile");
  EXPECT_EQ(TFTPScriptDownloadFile().GetEditorLabel(), "Download File");
}

TEST_F(MxFTPScript, SavedAndLoadedAgainKeepsEveryItemInOrderWithItsProperties) {
  auto& a = Add<TFTPAction>();
  a.SetHost("ftp.example.org");
  a.SetPort(2121);
  a.SetUserID("%USER%");
  a.SetPassword("s3cret-ftp");
  a.SetTransferType(inet::ftASCII);
  a.SetUseProxy(true);
  a.SetProxyServer("proxy.example.org");
  a.SetProxyType(inet::fpcmOpen);
  a.SetProxyPassword("proxy-s3cret");
  // Twice over, in reverse the second time: the order is the list's, not the classes'.
  auto items = EveryItemSetAwayFromDefaults(Host);
  for (const auto& item : items) a.AddItem(item->Clone());
  for (auto it = items.rbegin(); it != items.rend(); ++it) a.AddItem((*it)->Clone());
  a.Scripts().GetScriptByName(k_ftp_on_change_dir)->Text = "Log(CurrentDir)";

  const std::string xml = Project.SaveToString();
  EXPECT_THAT(xml, Not(HasSubstr("s3cret")));
  EXPECT_THAT(xml, Not(HasSubstr("name=\"Password\"")));
  EXPECT_THAT(xml, Not(HasSubstr("ProxyPassword")));
  EXPECT_THAT(xml, Not(HasSubstr("ItemCount")));

  auto loaded = host::TProject::LoadFromString(xml, "round-trip.xml", Host);
  auto& b = dynamic_cast<TFTPAction&>(*loaded->Actions.at(0));
  ASSERT_EQ(b.GetItemCount(), 22);
  EXPECT_EQ(b.GetPropertyText("ItemCount"), "22");
  for (int i = 0; i < 22; ++i)
    EXPECT_EQ(PropertyTexts(*b.GetItems(i)), PropertyTexts(*a.GetItems(i))) << "item " << i;
  // Everything but the proxy password, which is never stored.
  auto expected = PropertyTexts(a);
  std::erase_if(expected, [](const auto& p) { return p.first == "ProxyPassword"; });
  auto got = PropertyTexts(b);
  std::erase_if(got, [](const auto& p) { return p.first == "ProxyPassword"; });
  EXPECT_EQ(got, expected);
  EXPECT_EQ(b.GetPassword(), "s3cret-ftp");
  EXPECT_EQ(b.GetTransferType(), inet::ftASCII);
  EXPECT_EQ(b.Client().TransferType, inet::ftASCII);
  // Never stored: empty until it is set again.
  EXPECT_EQ(b.GetProxyPassword(), "");
  EXPECT_EQ(b.Scripts().GetScriptByName(k_ftp_on_change_dir)->Text, "Log(CurrentDir)");
  EXPECT_EQ(loaded->SaveToString(), xml);
}

TEST_F(MxFTPScript, AnUnknownItemClassOrPropertyIsALoadErrorNamingFileAndLine) {
  const struct {
    const char* child;
    const char* message;
  } cases[] = {
      {R"(<child class="TFTPScriptCopyFile"/>)",
       "ftp-script.xml:5: unknown child class \"TFTPScriptCopyFile\""},
      {R"(<child class="TFTPScriptChangeDir"><property name="RemoteFile">x</property></child>)",
       "ftp-script.xml:5: unknown property \"RemoteFile\" of TFTPScriptChangeDir"},
      {R"(<child class="TFTPScriptListDir"><property name="Details">often</property></child>)",
       "ftp-script.xml:5: "},
  };
  for (const auto& c : cases) {
    const std::string xml = std::string("<project name=\"p\">\n<actions>\n<action class=\"TFTPAction\">\n") +
                            "<child class=\"TFTPScriptChangeDirUp\"/>\n" + c.child +
                            "\n</action>\n</actions>\n</project>\n";
    try {
      host::TProject::LoadFromString(xml, "ftp-script.xml", Host);
      ADD_FAILURE() << "loaded: " << c.child;
    } catch (const host::EProjectError& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.message)) << c.child;
    }
  }
}

TEST_F(MxFTPScript, ValidationNamesTheMissingHostAndScript) {
  Options().SetFTPServer("global.example.org");
  const struct {
    const char* host;
    bool useGlobal;
    bool withItem;
    std::vector<std::string> failures;
  } cases[] = {
      {"", false, false, {"Host: Host has not been set", "FTP Script: No FTP actions have been specified"}},
      {"ftp.example.org", false, false, {"FTP Script: No FTP actions have been specified"}},
      {"", false, true, {"Host: Host has not been set"}},
      {"ftp.example.org", false, true, {}},
      // The host as read: the global server stands in for the action's own.
      {"", true, true, {}},
  };
  for (const auto& c : cases) {
    TFTPAction a;
    a.SetHost(c.host);
    a.SetUseGlobalOptions(c.useGlobal);
    if (c.withItem) a.AddItem(std::make_shared<TFTPScriptChangeDirUp>());
    host::TValidationErrors errors;
    EXPECT_EQ(a.Validate(errors), c.failures.empty()) << c.host;
    std::vector<std::string> got;
    for (const auto& e : errors.Errors()) got.push_back(e.Property + ": " + e.Message);
    EXPECT_EQ(got, c.failures) << c.host << " " << c.useGlobal;
  }
  Options().SetFTPServer("");
  TFTPAction a;
  a.SetUseGlobalOptions(true);
  a.AddItem(std::make_shared<TFTPScriptChangeDirUp>());
  host::TValidationErrors errors;
  EXPECT_FALSE(a.Validate(errors));
  EXPECT_THAT(errors.Errors().at(0).Message, HasSubstr("quillon options --set FTPServer="));
}

TEST_F(MxFTPScript, IdentityDefaultsAndHiddenProperties) {
  auto action = Host.Actions().CreateAction("TFTPAction");
  ASSERT_NE(action, nullptr);
  auto& a = dynamic_cast<TFTPAction&>(*action);
  EXPECT_EQ(a.GetActionName(), "FTP Client (DEPRECATED)");
  EXPECT_EQ(a.GetHelpTopicID(), 810);
  EXPECT_EQ(a.GetQuickHelpFilename(), "Plugins\\FTP.html");
  EXPECT_TRUE(a.CanTerminate());
  EXPECT_EQ(a.GetPort(), 21);
  EXPECT_EQ(a.GetCurrentDir(), "/");
  EXPECT_EQ(a.GetTransferType(), inet::ftBinary);
  rtl::TStringList hidden;
  a.GetHiddenProperties(hidden);
  EXPECT_THAT(std::vector<std::string>(hidden.begin(), hidden.end()), Contains("EncryptedPassword"));
  std::vector<std::string> events;
  for (const auto& s : a.Scripts().Scripts()) {
    std::string line = s->Name + "(";
    for (const auto& p : s->ParamNames()) line += p + (p == s->ParamNames().back() ? "" : ",");
    events.push_back(line + ")");
  }
  EXPECT_THAT(events,
              ElementsAre("OnConnect(Action)", "OnDisconnect(Action)", "OnChangeDir(Action,CurrentDir)",
                          "OnUploadCompleted(Action,LocalFile,RemoteFile)",
                          "OnDownloadCompleted(Action,LocalFile,RemoteFile)"));
}

// ---------------------------------------------------------------- whole runs

// Events append "what:details" to the variable EVENTS.
std::vector<std::pair<std::string, std::string>> RecordingEvents() {
  const auto note = [](const std::string& what) {
    return "SetVariable(\"EVENTS\", GetVariable(\"EVENTS\") .. \"|\" .. " + what + ")";
  };
  return {
      // What OnConnect sets is what the items expand afterwards.
      {"OnConnect",
       note("\"connect:\" .. tostring(Action)") + "\nSetVariable(\"WORKDIR\", GetVariable(\"FOLDER\"))"},
      {"OnDisconnect", note("\"disconnect\"")},
      {"OnChangeDir", note("\"dir:\" .. CurrentDir")},
      {"OnUploadCompleted", note("\"up:\" .. LocalFile .. \">\" .. RemoteFile")},
      {"OnDownloadCompleted", note("\"down:\" .. LocalFile .. \"<\" .. RemoteFile")},
  };
}

TEST_P(MxFTPScriptAll, APersistedScriptOfEveryItemKindLeavesTheExpectedFilesOnEachSide) {
  FtpServer& server = Server();
  server.MakeDir(Folder());
  const std::string a = "alpha\n";
  const std::string b(70000, 'b');
  const std::string c = "gamma";
  WriteFile(Local.Path() / "a.txt", a);
  WriteFile(Local.Path() / "b.dat", b);
  WriteFile(Local.Path() / "c.dat", c);
  // Neither a hidden file nor a folder goes with the mask.
  WriteFile(Local.Path() / ".h.dat", "hidden");
  fs::create_directories(Local.Path() / "d.dat");
  const std::string local = LocalDir();
  const std::string out = local + "/out.txt";

  const std::vector<TItem> items = {
      {"TFTPScriptChangeDir", {{"RemoteDir", "%WORKDIR%"}}},
      {"TFTPScriptMakeDir", {{"RemoteDir", "sub"}}},
      {"TFTPScriptChangeDir", {{"RemoteDir", "sub"}}},
      {"TFTPScriptGetCurrentDir", {{"VariableName", "CWD"}}},
      // An empty remote name is the local file's name.
      {"TFTPScriptUploadFile", {{"LocalFile", "%LOCAL%/a.txt"}, {"CompareFileSize", "true"}}},
      {"TFTPScriptUploadFile", {{"LocalFile", "%LOCAL%/*.dat"}, {"RemoteFile", "ignored.txt"}}},
      {"TFTPScriptFileSize", {{"RemoteFile", "a.txt"}, {"VariableName", "SIZE"}}},
      {"TFTPScriptRenameFile", {{"RemoteFile", "a.txt"}, {"NewName", "renamed.txt"}}},
      {"TFTPScriptListDir", {{"VariableName", "LIST"}}},
      {"TFTPScriptDownloadFile", {{"RemoteFile", "renamed.txt"}, {"LocalFile", "%LOCAL%/out.txt"}}},
      {"TFTPScriptDeleteFile", {{"RemoteFile", "b.dat"}}},
      {"TFTPScriptDeleteFile", {{"RemoteFile", "c.dat"}, {"Enabled", "false"}}},
      {"TFTPScriptChangeDirUp", {}},
      {"TFTPScriptMakeDir", {{"RemoteDir", "gone"}}},
      {"TFTPScriptDeleteDir", {{"RemoteDir", "gone"}}},
  };
  TLoaded run(
      ProjectXml(
          server, items, RecordingEvents(),
          {{"FOLDER", Folder()}, {"LOCAL", local}, {"CWD", ""}, {"SIZE", ""}, {"LIST", ""}, {"EVENTS", ""}}),
      Host);
  ASSERT_EQ(run.Run(), host::TRunResult::Success) << run.Capture.Dump();

  const fs::path sub = server.Root() / Folder() / "sub";
  EXPECT_EQ(ReadAll(sub / "renamed.txt"), a);
  EXPECT_EQ(ReadAll(sub / "c.dat"), c);
  EXPECT_FALSE(fs::exists(sub / "a.txt"));
  EXPECT_FALSE(fs::exists(sub / "b.dat"));
  EXPECT_FALSE(fs::exists(sub / "ignored.txt"));
  EXPECT_FALSE(fs::exists(sub / ".h.dat"));
  EXPECT_FALSE(fs::exists(sub / "d.dat"));
  EXPECT_FALSE(fs::exists(server.Root() / Folder() / "gone"));
  EXPECT_EQ(ReadAll(out), a);

  const std::string cwd = "/" + Folder() + "/sub";
  EXPECT_EQ(run.Variable("CWD"), cwd);
  EXPECT_EQ(run.Variable("SIZE"), std::to_string(a.size()));
  rtl::TStringList listed;
  listed.SetCommaText(run.Variable("LIST"));
  EXPECT_THAT(std::vector<std::string>(listed.begin(), listed.end()),
              UnorderedElementsAre("b.dat", "c.dat", "renamed.txt"));
  EXPECT_EQ(run.Variable("EVENTS"), "|connect:TFTPAction|dir:" + Folder() + "|dir:sub|dir:" + cwd +
                                        "|up:" + local + "/a.txt>a.txt|up:" + local +
                                        "/b.dat>b.dat|up:" + local + "/c.dat>c.dat|down:" + out +
                                        "<renamed.txt|dir:/" + Folder() + "|disconnect");
  EXPECT_EQ(run.Action().GetCurrentDir(), "/" + Folder());

  EXPECT_THAT(run.Capture.Log(), ElementsAreArray(std::vector<TLine>{
                                     {"Connection to host : 127.0.0.1", 0},
                                     {"Connected!", 0},
                                     {"Changing Directory to : " + Folder(), 0},
                                     {"Current Directory is : " + Folder(), 0},
                                     {"Creating Directory : sub", 0},
                                     {"Directory Created!", 1},
                                     {"Changing Directory to : sub", 0},
                                     {"Current Directory is : sub", 0},
                                     {"Retrieving Current Directory into Variable : CWD", 0},
                                     {"Current Directory is : " + cwd, 0},
                                     {"Uploading File : " + local + "/a.txt to : ", 0},
                                     {"Checking FileSize", 0},
                                     {"File Uploaded : 6 bytes - size ok", 1},
                                     {"Uploading File : " + local + "/b.dat to : b.dat", 0},
                                     {"File Uploaded : 70000 bytes", 1},
                                     {"Uploading File : " + local + "/c.dat to : c.dat", 0},
                                     {"File Uploaded : 5 bytes", 1},
                                     {"Getting File Size for :a.txt", 0},
                                     {"Variable : SIZE set to : 6", 0},
                                     {"Renaming File : a.txt to : renamed.txt", 0},
                                     {"File Renamed!", 1},
                                     {"Listing Directory : " + cwd + " /", 0},
                                     {"Downloading File : renamed.txt to : " + out, 0},
                                     {"File Downloaded : 6 bytes", 1},
                                     {"Delete File : b.dat", 0},
                                     {"File(s) Deleted", 1},
                                     {"Changing Directory Up", 0},
                                     {"Current Directory is : /" + Folder(), 0},
                                     {"Creating Directory : gone", 0},
                                     {"Directory Created!", 1},
                                     {"Delete Directory : gone", 0},
                                     {"Directory Deleted!", 1},
                                     {"Disconnecting from Host....", 0},
                                     {"Disconnected!", 1},
                                 }));
}

TEST_P(MxFTPScriptAll, ResultsGoOnlyIntoDefinedVariablesAndSizesStay64Bit) {
  FtpServer& server = Server();
  server.MakeDir(Folder());
  // 5 GiB, all of it a hole: a size that 32 bits would turn into 1 GiB.
  const fs::path big = server.Root() / Folder() / "big.bin";
  MakeHole(big, std::int64_t{5} << 30);
  TLoaded run(
      ProjectXml(server, {{"TFTPScriptChangeDir", {{"RemoteDir", Folder()}}},
                          {"TFTPScriptFileSize", {{"RemoteFile", "big.bin"}, {"VariableName", "SIZE"}}},
                          {"TFTPScriptFileSize", {{"RemoteFile", "big.bin"}, {"VariableName", "UNDEFINED"}}},
                          {"TFTPScriptListDir", {{"VariableName", "UNDEFINED"}, {"Details", "true"}}},
                          {"TFTPScriptGetCurrentDir", {{"VariableName", "UNDEFINED"}}}}),
      Host);
  run.Project->Context().SetVariable("SIZE", "");
  ASSERT_EQ(run.Run(), host::TRunResult::Success) << run.Capture.Dump();
  EXPECT_EQ(run.Variable("SIZE"), "5368709120");
  EXPECT_FALSE(run.Project->Context().IsVariableDefined("UNDEFINED"));
  const auto texts = run.Capture.Texts();
  EXPECT_THAT(texts, Contains("Variable : SIZE set to : 5368709120"));
  EXPECT_THAT(texts, Contains("File Size is : 5368709120"));
  fs::remove(big);
}

TEST_F(MxFTPScript, AnUploadWhoseServerSizeDiffersFailsTheItemWithBothSizes) {
  // vsftpd stores an ASCII upload as it arrives, with CR LF: two bytes more than the local file.
  FtpServer& server = ftptest::SharedServer(FtpServerKind::Vsftpd);
  server.MakeDir(Folder());
  WriteFile(Local.Path() / "lines.txt", "a\nb\n");
  TLoaded run(ProjectXml(server,
                         {{"TFTPScriptChangeDir", {{"RemoteDir", Folder()}}},
                          {"TFTPScriptUploadFile",
                           {{"LocalFile", LocalDir() + "/lines.txt"},
                            {"RemoteFile", "lines.txt"},
                            {"CompareFileSize", "true"}}},
                          {"TFTPScriptMakeDir", {{"RemoteDir", "after"}}}},
                         {}, {}, "      <property name=\"TransferType\">ftASCII</property>\n"),
              Host);
  EXPECT_EQ(run.Run(), host::TRunResult::Failed);
  const auto texts = run.Capture.Texts();
  EXPECT_THAT(texts, Contains("Uploaded File :lines.txt file size(6) is not the same as local file(4)"));
  EXPECT_THAT(texts, Not(Contains("Creating Directory : after")));
  EXPECT_THAT(texts, Contains("Disconnected!"));
}

TEST_F(MxFTPScript, TheGlobalOptionsGiveServerPortUserAndPasswordButNotTheRest) {
  FtpServer& server = ftptest::SharedServer(FtpServerKind::Pyftpdlib);
  server.MakeDir(Folder());
  Options().SetFTPServer(server.Host());
  Options().SetFTPPort(server.Port());
  Options().SetFTPUser(server.User());
  Options().SetFTPPass(server.Password());
  // The action's own values would fail: nothing listens at port 1, and the user is unknown.
  auto& a = Add<TFTPAction>();
  a.SetHost("nowhere.invalid");
  a.SetPort(1);
  a.SetUserID("nobody");
  a.SetPassword("wrong");
  a.SetPassive(true);
  a.SetTransferType(inet::ftASCII);
  a.SetUseGlobalOptions(true);
  auto dir = std::make_shared<TFTPScriptChangeDir>();
  dir->SetRemoteDir(Folder());
  a.AddItem(dir);
  host::TValidationErrors errors;
  EXPECT_TRUE(a.Validate(errors));
  EXPECT_TRUE(a.Execute()) << Capture.Dump();
  EXPECT_EQ(a.Client().Host, server.Host());
  EXPECT_EQ(a.Client().Port, server.Port());
  EXPECT_EQ(a.Client().Username, server.User());
  EXPECT_TRUE(a.Client().Passive);
  EXPECT_EQ(a.Client().TransferType, inet::ftASCII);
  // The stored values stay the action's own.
  EXPECT_EQ(a.GetPropertyText("Host"), "nowhere.invalid");
  EXPECT_EQ(a.GetPropertyText("Port"), "1");
  Options().SetFTPServer("");
  Options().SetFTPUser("");
  Options().SetFTPPass("");
}

TEST_F(MxFTPScript, TheDetailedLogShowsTheDialogueWithoutThePassword) {
  FtpServer& server = ftptest::SharedServer(FtpServerKind::Pyftpdlib);
  TLoaded run(ProjectXml(server, {{"TFTPScriptGetCurrentDir", {}}}, {}, {},
                         "      <property name=\"DetailedLogging\">true</property>\n"),
              Host);
  ASSERT_EQ(run.Run(), host::TRunResult::Success) << run.Capture.Dump();
  const std::string log = run.Capture.Dump();
  EXPECT_THAT(log, Not(HasSubstr(server.Password())));
  EXPECT_THAT(log, HasSubstr(": pass xxx"));
  EXPECT_THAT(log, HasSubstr(": PWD"));
  EXPECT_THAT(log, HasSubstr(": 257 "));

  // Without it, none of the dialogue.
  TLoaded quiet(ProjectXml(server, {{"TFTPScriptGetCurrentDir", {}}}), Host);
  ASSERT_EQ(quiet.Run(), host::TRunResult::Success);
  EXPECT_THAT(quiet.Capture.Dump(), Not(HasSubstr(": PWD")));
}

TEST_F(MxFTPScript, TheExampleProjectSendsAndFetchesBackItsFiles) {
  FtpServer& server = ftptest::SharedServer(FtpServerKind::Pyftpdlib);
  // The example works in "drop" below the login folder: this test's own folder stands in.
  server.MakeDir(Folder());
  Options().SetFTPServer(server.Host());
  Options().SetFTPPort(server.Port());
  Options().SetFTPUser(server.User());
  Options().SetFTPPass(server.Password());
  WriteFile(Local.Path() / "outbox" / "notes.txt", "notes\n");
  WriteFile(Local.Path() / "outbox" / "more.txt", "more\n");
  fs::create_directories(Local.Path() / "inbox");
  host::RegisterHostActions(Host);
  std::string xml = ReadAll(QUILLON_SOURCE_DIR "/examples/ftp-script.xml");
  const std::string first = "<child class=\"TFTPScriptMakeDir\">";
  xml.replace(xml.find(first), 0,
              "<child class=\"TFTPScriptChangeDir\"><property name=\"RemoteDir\">" + Folder() +
                  "</property></child>");
  auto project = host::TProject::LoadFromString(xml, "ftp-script.xml", Host);
  testsupport::ActionLog capture(project->Context());
  for (auto& [name, value] : project->Variables) {
    if (name == "OUTBOX") value = LocalDir() + "/outbox";
    if (name == "INBOX") value = LocalDir() + "/inbox";
  }
  host::TProjectRunner validator(*project);
  EXPECT_TRUE(validator.Validate().empty());
  // The second run finds the folder there already and goes on.
  for (int run = 0; run < 2; ++run) {
    host::TProjectRunner runner(*project);
    ASSERT_EQ(runner.Run(), host::TRunResult::Success) << capture.Dump();
  }
  const fs::path drop = server.Root() / Folder() / "drop";
  EXPECT_EQ(ReadAll(drop / "more.txt"), "more\n");
  EXPECT_FALSE(fs::exists(drop / "notes-read.txt"));
  EXPECT_EQ(ReadAll(Local.Path() / "inbox" / "notes-read.txt"), "notes\n");
  EXPECT_THAT(capture.Texts(),
              Contains("notes.txt had 6 bytes on the server; the folder listed: more.txt,notes.txt"));
  Options().SetFTPServer("");
  Options().SetFTPUser("");
  Options().SetFTPPass("");
}

// ---------------------------------------------------------------- bad input

TEST_F(MxFTPScript, AFailingItemStopsTheScriptUnlessItIgnoresErrors) {
  FtpServer& vsftpd = ftptest::SharedServer(FtpServerKind::Vsftpd);
  vsftpd.MakeDir(Folder());
  vsftpd.MakeDir(Folder() + "/dropme");
  const struct {
    const char* name;
    TItem failing;
    std::string error;  // what the log says of the failure
  } cases[] = {
      {"missing local file",
       {"TFTPScriptUploadFile", {{"LocalFile", LocalDir() + "/none.txt"}}},
       "File " + LocalDir() + "/none.txt not found!"},
      {"missing remote file",
       {"TFTPScriptDownloadFile", {{"RemoteFile", "none.txt"}, {"LocalFile", LocalDir() + "/x"}}},
       "550"},
      {"missing remote folder", {"TFTPScriptChangeDir", {{"RemoteDir", "none"}}}, "550"},
      // The hook below drops the connection as this item starts.
      {"dropped connection", {"TFTPScriptChangeDir", {{"RemoteDir", "dropme"}}}, ""},
  };
  for (const auto& c : cases) {
    for (const bool ignore : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (ignore ? " ignored" : ""));
      TItem failing = c.failing;
      std::vector<TItem> items = {{"TFTPScriptChangeDir", {{"RemoteDir", Folder()}}},
                                  failing,
                                  {"TFTPScriptGetCurrentDir", {{"VariableName", "AFTER"}}}};
      // After a dropped connection every item fails; each one must ignore that to go on.
      for (TItem& item : items)
        if (ignore && (&item == &items[1] || std::string(c.name) == "dropped connection"))
          item.Props.emplace_back("IgnoreError", "true");
      TLoaded run(ProjectXml(vsftpd, items, {{"OnDisconnect", "SetVariable(\"DISCONNECTED\", \"yes\")"}},
                             {{"AFTER", ""}, {"DISCONNECTED", ""}}),
                  Host);
      run.Capture.Hook = [&](const std::string& line) {
        if (line == "Changing Directory to : dropme") {
          EXPECT_GT(vsftpd.KillSessions(), 0);
        }
      };
      const host::TRunResult result = run.Run();
      const auto log = run.Capture.Log();
      const auto texts = run.Capture.Texts();
      if (!c.error.empty()) {
        EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const TLine& l) {
          return l.Tag == 3 && l.Text.find(c.error) != std::string::npos;
        })) << run.Capture.Dump();
      }
      EXPECT_EQ(result, ignore ? host::TRunResult::Success : host::TRunResult::Failed) << run.Capture.Dump();
      // The next item runs only when the failure is ignored.
      EXPECT_EQ(std::count(texts.begin(), texts.end(), "Retrieving Current Directory into Variable : AFTER"),
                ignore ? 1 : 0);
      // Whatever happened, the client is let go and the event runs.
      EXPECT_EQ(texts.back(), "Disconnected!");
      EXPECT_EQ(run.Variable("DISCONNECTED"), "yes");
    }
  }
}

TEST_F(MxFTPScript, ARefusedLoginEndsTheRunBeforeAnyItem) {
  FtpServer& server = ftptest::SharedServer(FtpServerKind::Pyftpdlib);
  const std::string xml =
      ProjectXml(server, {{"TFTPScriptMakeDir", {{"RemoteDir", "never"}, {"IgnoreError", "true"}}}},
                 {{"OnConnect", "SetVariable(\"EVENT\", \"connect\")"},
                  {"OnDisconnect", "SetVariable(\"EVENT\", \"disconnect\")"}},
                 {{"EVENT", ""}});
  TLoaded run(xml, Host);
  run.Action().SetPassword("wrong");
  EXPECT_EQ(run.Run(), host::TRunResult::Failed);
  const auto log = run.Capture.Log();
  ASSERT_GE(log.size(), 3u) << run.Capture.Dump();
  EXPECT_EQ(log[0], (TLine{"Connection to host : 127.0.0.1", 0}));
  EXPECT_EQ(log[1], (TLine{"Error Connecting to : 127.0.0.1", 3}));
  EXPECT_THAT(log[2].Text, HasSubstr("530"));
  EXPECT_THAT(run.Capture.Texts(), Not(Contains("Creating Directory : never")));
  EXPECT_EQ(run.Variable("EVENT"), "");
  EXPECT_THAT(run.Capture.Dump(), Not(HasSubstr("wrong")));
}

TEST_F(MxFTPScript, AHostOrUserThatCannotBeExpandedEndsTheRunWithItsMessage) {
  const struct {
    const char* host;
    const char* user;
    const char* first;
  } cases[] = {
      {"%NOSUCHHOST%", "u", "Error Expanding variables in Host"},
      {"127.0.0.1", "%NOSUCHUSER%", "Error Expanding UserID"},
  };
  for (const auto& c : cases) {
    TFTPAction& a = Add<TFTPAction>();
    a.SetHost(c.host);
    a.SetUserID(c.user);
    a.AddItem(std::make_shared<TFTPScriptChangeDirUp>());
    Capture.Clear();
    EXPECT_FALSE(a.Execute());
    const auto log = Capture.Log();
    ASSERT_EQ(log.size(), 2u) << Capture.Dump();
    EXPECT_EQ(log[0], (TLine{c.first, 3}));
    EXPECT_EQ(log[1].Tag, 3);
  }
}

// ---------------------------------------------------------------- stop

TEST_F(MxFTPScript, AStopAbortsTheTransferUnderWayAndDisconnects) {
  FtpServer& server = ftptest::SharedServer(FtpServerKind::Pyftpdlib);
  server.MakeDir(Folder());
  // Far more than can arrive before the stop; read from a hole and written nowhere.
  const fs::path endless = server.Root() / Folder() / "endless.bin";
  MakeHole(endless, std::int64_t{64} << 30);
  fs::create_symlink("/dev/null", Local.Path() / "sink");
  TLoaded run(
      ProjectXml(
          server,
          {{"TFTPScriptChangeDir", {{"RemoteDir", Folder()}}},
           {"TFTPScriptDownloadFile",
            {{"RemoteFile", "endless.bin"}, {"LocalFile", LocalDir() + "/sink"}, {"IgnoreError", "true"}}},
           {"TFTPScriptMakeDir", {{"RemoteDir", "never"}}}}),
      Host);
  std::promise<std::string> reported;
  bool once = false;
  run.Project->Context().OnProgress = [&](const host::TMxAction&, const std::string& text, int) {
    if (text.find("KBytes Transferred") != std::string::npos && !std::exchange(once, true))
      reported.set_value(text);
  };
  host::TProjectRunner runner(*run.Project);
  auto result = std::async(std::launch::async, [&] { return runner.Run(); });
  auto progress = reported.get_future();
  ASSERT_EQ(progress.wait_for(20s), std::future_status::ready) << run.Capture.Dump();
  EXPECT_THAT(progress.get(),
              ::testing::MatchesRegex(
                  "Download speed : [0-9]+\\.[0-9][0-9] KB/s : [0-9]+/67108864 KBytes Transferred"));
  const auto t0 = std::chrono::steady_clock::now();
  runner.RequestStop();
  ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
  const auto took = std::chrono::steady_clock::now() - t0;
  RecordProperty("StopMilliseconds",
                 static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
  EXPECT_EQ(result.get(), host::TRunResult::Stopped);
  // Within 200 ms on an idle machine; the bound leaves room for a loaded one.
  EXPECT_LT(took, 1s);
  const auto texts = run.Capture.Texts();
  EXPECT_THAT(texts, Contains(TLine{"User Aborted Action!", 3}.Text));
  EXPECT_THAT(texts, Not(Contains("Creating Directory : never")));
  EXPECT_EQ(texts.back(), "Disconnected!");
  run.Project->Context().OnProgress = nullptr;
  fs::remove(endless);
}

}  // namespace
}  // namespace mx
