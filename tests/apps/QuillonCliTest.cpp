#include "apps/quillon/QuillonCli.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/MxCrypto.h"
#include "tests/support/FtpServers.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::AllOf;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

struct TResult {
  int Code;
  std::string Out, Err;
};

// Parses one line holding a flat JSON object (string, number and bare-word values); nullopt when
// the line is not one.
std::optional<std::map<std::string, std::string>> ParseFlatJson(const std::string& line) {
  size_t i = 0;
  auto ws = [&] {
    while (i < line.size() && line[i] == ' ') ++i;
  };
  auto str = [&]() -> std::optional<std::string> {
    if (i >= line.size() || line[i] != '"') return std::nullopt;
    std::string s;
    for (++i; i < line.size(); ++i) {
      char c = line[i];
      if (c == '"') {
        ++i;
        return s;
      }
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
      if (c != '\\') {
        s.push_back(c);
        continue;
      }
      if (++i >= line.size()) return std::nullopt;
      static const std::string k_from = "\"\\/nrt", k_to = "\"\\/\n\r\t";
      if (line[i] == 'u') {
        if (i + 4 >= line.size()) return std::nullopt;
        s.push_back(static_cast<char>(std::stoi(line.substr(i + 1, 4), nullptr, 16)));
        i += 4;
      } else if (auto k = k_from.find(line[i]); k != std::string::npos) {
        s.push_back(k_to[k]);
      } else {
        return std::nullopt;
      }
    }
    return std::nullopt;
  };
  std::map<std::string, std::string> out;
  ws();
  if (i >= line.size() || line[i++] != '{') return std::nullopt;
  for (;;) {
    ws();
    auto key = str();
    if (!key) return std::nullopt;
    ws();
    if (i >= line.size() || line[i++] != ':') return std::nullopt;
    ws();
    if (i < line.size() && line[i] == '"') {
      auto v = str();
      if (!v) return std::nullopt;
      out[*key] = *v;
    } else {
      size_t start = i;
      while (i < line.size() && line[i] != ',' && line[i] != '}' && line[i] != ' ') ++i;
      if (i == start) return std::nullopt;
      out[*key] = line.substr(start, i - start);
    }
    ws();
    if (i >= line.size()) return std::nullopt;
    if (line[i] == '}') {
      ++i;
      ws();
      return i == line.size() ? std::optional(out) : std::nullopt;
    }
    if (line[i++] != ',') return std::nullopt;
  }
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// Each test gets its own directory, key file and option store.
class QuillonCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "quillon-cli-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    keyFile_ = (dir_ / "key").string();
    optionsFile_ = (dir_ / "options.xml").string();
    // Learned values stay in this test's folder.
    const char* state = std::getenv("XDG_STATE_HOME");
    savedState_ = state ? std::optional<std::string>(state) : std::nullopt;
    ::setenv("XDG_STATE_HOME", (dir_ / "state").c_str(), 1);
  }
  void TearDown() override {
    host::TCryptoUtils::SetKeyFile({});
    if (savedState_)
      ::setenv("XDG_STATE_HOME", savedState_->c_str(), 1);
    else
      ::unsetenv("XDG_STATE_HOME");
    fs::remove_all(dir_);
  }

  TResult Run(std::vector<std::string> args, const std::string& input = {}) {
    std::istringstream in(input);
    std::ostringstream out, err;
    TConsole console{in, out, err};
    int code = RunQuillon(args, console);
    return {code, out.str(), err.str()};
  }
  // With this test's option store and key file.
  TResult RunWithStores(std::vector<std::string> args, const std::string& input = {}) {
    args.insert(args.end(), {"--options", optionsFile_, "--key-file", keyFile_});
    return Run(std::move(args), input);
  }

  std::string WriteFile(const std::string& name, const std::string& text) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  std::string WriteProject(const std::string& name, const std::string& actions,
                           const std::string& variables = {}) {
    return WriteFile(name, "<project name=\"t\">\n  <variables>" + variables + "</variables>\n  <actions>\n" +
                               actions + "  </actions>\n</project>\n");
  }
  static std::string LogAction(const std::string& message) {
    return "    <action class=\"TLogMessageAction\"><property name=\"Message\">" + message +
           "</property></action>\n";
  }

  fs::path dir_;
  std::string keyFile_, optionsFile_;
  std::optional<std::string> savedState_;
};

TEST_F(QuillonCliTest, UsageErrorsExitWithTwo) {
  struct TCase {
    std::vector<std::string> Args;
    bool Stores;  // reaches the runtime, so it needs this test's stores
    const char* Needle;
  } cases[] = {
      {{}, false, "usage: quillon"},
      {{"frobnicate"}, false, "unknown command \"frobnicate\""},
      {{"run"}, true, "run needs a project file"},
      {{"validate"}, true, "validate needs a project file"},
      {{"run", "p.xml", "--bogus"}, false, "unknown option --bogus"},
      {{"run", "p.xml", "--var", "NOEQUALS"}, false, "--var takes NAME=VALUE"},
      {{"run", "p.xml", "--var", "=x"}, false, "--var takes NAME=VALUE"},
      {{"run", "p.xml", "--log", "xml"}, false, "--log takes text or json"},
      {{"run", "p.xml", "--options"}, false, "--options needs a value"},
      {{"run", "a.xml", "b.xml"}, false, "unexpected argument \"b.xml\""},
      {{"actions", "extra"}, false, "unexpected argument \"extra\""},
      {{"secret", "--for", "TNoSuchAction"}, true, "unknown action class \"TNoSuchAction\""},
      {{"options", "--set", "NoSuchOption=1"}, true, "unknown option \"NoSuchOption\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.Args));
    TResult r = c.Stores ? RunWithStores(c.Args) : Run(c.Args);
    EXPECT_EQ(r.Code, ecUsage);
    EXPECT_THAT(r.Err, HasSubstr(c.Needle));
    EXPECT_THAT(r.Out, IsEmpty());
  }
  TResult help = Run({"--help"});
  EXPECT_EQ(help.Code, ecSuccess);
  EXPECT_THAT(help.Out, HasSubstr("usage: quillon"));
}

TEST_F(QuillonCliTest, ProjectThatCannotBeLoadedExitsWithTwoNamingFileAndLine) {
  struct TCase {
    const char* Name;
    std::string Text;
    const char* Where;  // ":LINE:" after the path
    const char* Needle;
  } cases[] = {
      {"broken XML",
       "<project>\n  <actions>\n    <action class=\"TLogMessageAction\">\n  </actions>\n</project>\n",
       ":4:", "not a valid project file"},
      {"unknown action class",
       "<project>\n  <actions>\n\n    <action class=\"TNoSuchAction\"/>\n  </actions>\n</project>\n",
       ":4:", "TNoSuchAction"},
      {"unknown property",
       "<project><actions>\n<action class=\"TLogMessageAction\">\n<property name=\"Colour\"/>\n</action>\n"
       "</actions></project>\n",
       ":3:", "Colour"},
      {"a property given twice",
       "<project><actions>\n<action class=\"TLogMessageAction\">\n<property name=\"Message\">a</property>\n"
       "<property name=\"message\">b</property>\n</action>\n</actions></project>\n",
       ":4:", "property \"message\" of TLogMessageAction is given twice (first on line 3)"},
      {"a read-only property",
       "<project><actions>\n<action class=\"TEmailAction\">\n<property name=\"Recipients\">a@b.c</property>\n"
       "</action>\n</actions></project>\n",
       ":3:", "property \"Recipients\" of TEmailAction is read-only"},
      {"a clear password",
       "<project><actions>\n<action class=\"TEmailAction\">\n<property name=\"Password\">pw</property>\n"
       "</action>\n</actions></project>\n",
       ":3:", "is a password, never stored in clear in a project file (store it with `quillon secret`)"},
      {"a list type in the wrong case",
       "<project><actions>\n<action class=\"TEmailAction\">\n<child class=\"TMxAddressList\">\n"
       "<property name=\"ListType\">Recipients</property>\n</child>\n</action>\n</actions></project>\n",
       ":3:", "TMxAddressList: ListType \"Recipients\" must be written \"recipients\""},
      {"an unknown address type",
       "<project><actions>\n<action class=\"TEmailAction\">\n<child class=\"TMxEmailAddress\">\n"
       "<property name=\"AddressType\">bcc</property>\n</child>\n</action>\n</actions></project>\n",
       ":3:", "AddressType \"bcc\" is none of the action's AddressTypes (\"from\", \"sender\", \"ReceiptRecipient\")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string path = WriteFile("bad.xml", c.Text);
    TResult r = RunWithStores({"run", path});
    EXPECT_EQ(r.Code, ecUsage);
    EXPECT_THAT(r.Err, AllOf(HasSubstr(path + c.Where), HasSubstr(c.Needle)));
    EXPECT_THAT(r.Out, IsEmpty());
  }
  std::string missing = (dir_ / "missing.xml").string();
  TResult r = RunWithStores({"run", missing});
  EXPECT_EQ(r.Code, ecUsage);
  EXPECT_THAT(r.Err, HasSubstr(missing));
  TResult folder = RunWithStores({"validate", dir_.string()});
  EXPECT_EQ(folder.Code, ecUsage);
  EXPECT_THAT(folder.Err, HasSubstr(dir_.string() + ": is a directory, not a project file"));
}

// Each failure names the file line of its action, or of the script line at fault, and the
// action's position; JSON carries the same as fields.
TEST_F(QuillonCliTest, ValidationFailuresPointAtTheActionAndTheScriptLine) {
  const std::string path = WriteProject(
      "lines.xml", LogAction("fine") +                                                 // line 4, action 1
                       "    <action class=\"TLogMessageAction\" enabled=\"false\"/>\n" +  // 5, action 2
                       "    <action class=\"TSetVariableAction\"/>\n" +                 // 6, action 3
                       "    <action class=\"TEmailAction\">\n"                          // 7, action 4
                       "      <property name=\"UseGlobalOptions\">true</property>\n"
                       "      <property name=\"Subject\">s</property>\n"
                       "      <property name=\"RecipientsSource\">asFromVariable</property>\n"
                       "      <property name=\"RecipientVariable\">TO</property>\n"
                       "      <script name=\"OnSend\" language=\"lua\">\n"                // 12: script line 1
                       "        Skip = false\n"                                          // 13: line 2
                       "        if Address == then\n"                                    // 14: line 3
                       "      </script>\n"
                       "    </action>\n");
  TResult text = RunWithStores({"validate", path});
  EXPECT_EQ(text.Code, ecUsage);
  EXPECT_THAT(text.Err, ContainsRegex(":6: Set Variable [^\n]*\\(action 3\\): VariableName: "));
  EXPECT_THAT(text.Err, HasSubstr(path + ":7: Send Email (action 4): Host: Host has not been set: the action uses "
                                          "the global options, whose SMTPHost is empty (set it with `quillon "
                                          "options --set SMTPHost=...`)"));
  EXPECT_THAT(text.Err, HasSubstr(path + ":14: Send Email (action 4): script OnSend, line 3: "));

  TResult json = RunWithStores({"validate", path, "--log", "json"});
  EXPECT_EQ(json.Code, ecUsage);
  std::vector<std::map<std::string, std::string>> failures;
  for (const auto& line : Lines(json.Out)) {
    auto e = ParseFlatJson(line);
    ASSERT_TRUE(e) << "not a JSON object: " << line;
    if ((*e)["event"] == "invalid") failures.push_back(*e);
  }
  ASSERT_EQ(failures.size(), 3u) << json.Out;
  EXPECT_EQ(failures[0]["file"], path);
  EXPECT_EQ(failures[0]["line"], "6");
  EXPECT_EQ(failures[0]["position"], "3");
  EXPECT_EQ(failures[0]["property"], "VariableName");
  EXPECT_EQ(failures[1]["line"], "7");
  EXPECT_EQ(failures[1]["property"], "Host");
  EXPECT_EQ(failures[2]["line"], "14");
  EXPECT_EQ(failures[2]["script"], "OnSend");
  EXPECT_EQ(failures[2]["scriptLine"], "3");
}

TEST_F(QuillonCliTest, ValidationFailuresAreAllPrintedAndNothingRuns) {
  std::string path =
      WriteProject("invalid.xml", "    <action class=\"TSetVariableAction\"/>\n" + LogAction("not run") +
                                      "    <action class=\"TDefineFileSetAction\"/>\n");
  for (const char* command : {"run", "validate"}) {
    SCOPED_TRACE(command);
    TResult r = RunWithStores({command, path});
    EXPECT_EQ(r.Code, ecUsage);
    EXPECT_THAT(r.Err, AllOf(HasSubstr("VariableName: A variable name must be specified."),
                             HasSubstr("FileSetName"), HasSubstr("BaseDirectory")));
    EXPECT_THAT(r.Out, IsEmpty());
  }
  TResult valid = RunWithStores({"validate", WriteProject("valid.xml", LogAction("fine"))});
  EXPECT_EQ(valid.Code, ecSuccess);
  EXPECT_THAT(valid.Err, HasSubstr("valid.xml: valid"));
  EXPECT_THAT(valid.Out, Not(HasSubstr("fine")));
}

TEST_F(QuillonCliTest, UnknownVariableAtRunTimeFailsTheRunWithOne) {
  std::string path = WriteProject(
      "p.xml", LogAction("first") + LogAction("Hello %QUILLON_NO_SUCH_VAR%") + LogAction("never"));
  TResult r = RunWithStores({"run", path});
  EXPECT_EQ(r.Code, ecActionFailed);
  EXPECT_THAT(r.Out,
              AllOf(HasSubstr("first"), HasSubstr("Could not expand Message"),
                    HasSubstr("QUILLON_NO_SUCH_VAR"), HasSubstr("Run failed."), Not(HasSubstr("never"))));
}

TEST_F(QuillonCliTest, SuccessfulRunInTextFormat) {
  std::string path =
      WriteProject("p.xml", LogAction("Hello %WHO%"), "<variable name=\"WHO\">file</variable>");
  TResult r = RunWithStores({"run", path, "--var", "WHO=command line"});
  EXPECT_EQ(r.Code, ecSuccess);
  EXPECT_THAT(r.Out, AllOf(HasSubstr("Log Message: Hello command line\n"), HasSubstr("Run success.")));
  EXPECT_THAT(r.Out, Not(HasSubstr("\x1b[")));  // no colours when not on a terminal

  TResult quiet = RunWithStores({"run", path, "--quiet"});
  EXPECT_EQ(quiet.Code, ecSuccess);
  EXPECT_THAT(quiet.Out, IsEmpty());
}

TEST_F(QuillonCliTest, SuccessfulRunInJsonFormatPrintsOneObjectPerLine) {
  const std::string awkward = "say \"hi\"\tC:\\dir";
  std::string path = WriteProject("p.xml", LogAction("say &quot;hi&quot;\tC:\\dir"));
  TResult r = RunWithStores({"run", path, "--log", "json"});
  EXPECT_EQ(r.Code, ecSuccess);
  std::vector<std::map<std::string, std::string>> events;
  for (const auto& line : Lines(r.Out)) {
    auto e = ParseFlatJson(line);
    ASSERT_TRUE(e) << "not a JSON object: " << line;
    EXPECT_TRUE(e->count("time") && e->count("event")) << line;
    events.push_back(*e);
  }
  std::vector<std::map<std::string, std::string>> log, start, end;
  for (auto& e : events) {
    if (e["event"] == "log") log.push_back(e);
    if (e["event"] == "start") start.push_back(e);
    if (e["event"] == "end") end.push_back(e);
  }
  ASSERT_EQ(start.size(), 1u);
  EXPECT_EQ(start[0]["class"], "TLogMessageAction");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0]["text"], awkward);
  EXPECT_EQ(log[0]["level"], "info");
  EXPECT_EQ(log[0]["tag"], "0");
  ASSERT_EQ(end.size(), 1u);
  EXPECT_EQ(end[0]["result"], "success");
  EXPECT_EQ(events.back()["event"], "end");
}

TEST_F(QuillonCliTest, ActionsListsTheHostActionsWithPropertiesAndDefaults) {
  TResult r = RunWithStores({"actions"});
  EXPECT_EQ(r.Code, ecSuccess);
  EXPECT_THAT(r.Out,
              AllOf(HasSubstr("TLogMessageAction  \"Log Message\"  (Host)\n  Message : string\n"),
                    HasSubstr("TSetVariableAction  \"Set Variable\"  (Host)\n  VariableName : string\n"),
                    HasSubstr("TDefineFileSetAction  \"Define File Set\"  (Host)\n"),
                    HasSubstr("  IncludeMasks : TStrings\n"), HasSubstr("  Recursive : Boolean = false\n"),
                    HasSubstr("TDelayAction  \"Delay\"  (Host)\n  Milliseconds : integer = 1000\n")));
}

// The listing says what a project file may hold: enumerations by value name, hidden but stored
// properties marked rather than left out, published objects and script steps as child elements.
TEST_F(QuillonCliTest, ActionsListsValueNamesHiddenPropertiesAndChildren) {
  TResult r = RunWithStores({"actions"});
  ASSERT_EQ(r.Code, ecSuccess) << r.Err;
  EXPECT_THAT(
      r.Out,
      AllOf(
          HasSubstr("  Mode : integer (emNormal | emIndividual) = 0\n"),
          HasSubstr(
              "  DownloadTo : TDownloadTo (dCheckExists | dSaveToFile | dSaveToMxVariable) = dCheckExists\n"),
          HasSubstr("  EncryptedPassword : string  [hidden]\n"), HasSubstr("  Cookie : string  [hidden]\n"),
          HasSubstr("  ResponseCode : integer  [hidden, read-only]\n"),
          HasSubstr("  UseRecipientFile : Boolean = false  [hidden, not stored]\n"),
          HasSubstr("  Password : string  [not stored, password]\n"),
          HasSubstr("  RecipientsList : child TMxAddressList\n"),
          HasSubstr("  POPPort : integer = 110\n      Port No for the POP Server\n"),
          HasSubstr("  UserName : string\n  Password : string  [not stored, password]\n  child TTelnetScriptItem (any "
                    "number)\n"),
          HasSubstr("  ConnectionName : string\n  child actions in <actions>\n"),
          Not(HasSubstr("TMxAddressList  [not stored]"))));
  // Child classes and option objects with their own properties.
  EXPECT_THAT(r.Out,
              AllOf(HasSubstr("  TMxAddressList\n    ListType : string  [hidden]\n    Count : integer  "
                              "[hidden, read-only]\n    child TMxEmailAddress (any number)\n"),
                    HasSubstr("  TTelnetScriptItem\n    SendText : string\n"),
                    HasSubstr("    FTPPass : string  [password]\n    FTPPort : integer = 21\n"),
                    HasSubstr("    SMTPUseTLS : TIdUseTLS (utNoTLSSupport | utUseImplicitTLS | "
                              "utUseRequireTLS | utUseExplicitTLS) = utNoTLSSupport\n")));
}

// What the listing shows as a value name loads in a project.
TEST_F(QuillonCliTest, ValueNamesFromTheListingLoad) {
  const std::string path =
      WriteProject("names.xml",
                   "    <action class=\"TMxInetHTTPGetAction\" enabled=\"false\">\n"
                   "      <property name=\"DownloadTo\">dSaveToMxVariable</property>\n    </action>\n"
                   "    <action class=\"TEmailAction\" enabled=\"false\">\n"
                   "      <property name=\"Mode\">emIndividual</property>\n"
                   "      <property name=\"UseTLS\">utUseExplicitTLS</property>\n    </action>\n");
  TResult r = RunWithStores({"validate", path});
  EXPECT_EQ(r.Code, ecSuccess) << r.Err;
}

TEST_F(QuillonCliTest, OptionsSetThenShowKeepsPasswordsOutOfSight) {
  TResult set = RunWithStores({"options", "--set", "FTPServer=ftp.example.org", "--set", "ftppass=hunter2"});
  ASSERT_EQ(set.Code, ecSuccess) << set.Err;
  EXPECT_THAT(set.Out, HasSubstr("saved " + optionsFile_));

  TResult show = RunWithStores({"options"});
  EXPECT_EQ(show.Code, ecSuccess);
  EXPECT_THAT(show.Out, AllOf(HasSubstr("FTPServer = ftp.example.org"), HasSubstr("FTPPass = (set)"),
                              Not(HasSubstr("hunter2"))));
  std::ifstream in(optionsFile_);
  std::string stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_THAT(stored, AllOf(HasSubstr("ftp.example.org"), Not(HasSubstr("hunter2"))));
  struct stat st {};
  ASSERT_EQ(::stat(optionsFile_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  TResult bad = RunWithStores({"options", "--set", "FTPPort=many"});
  EXPECT_EQ(bad.Code, ecUsage);
  EXPECT_THAT(bad.Err, HasSubstr("FTPPort"));
}

// A password given as --set NAME=VALUE stays in the shell's history and the process list;
// --set-secret reads it from standard input, one line per name, in order.
TEST_F(QuillonCliTest, OptionsSetSecretReadsTheValueFromStandardInput) {
  TResult set = RunWithStores(
      {"options", "--set-secret", "SMTPPass", "--set", "SMTPUser=ann", "--set-secret", "ftppass"},
      "mail pass wörd\nftp-secret\n");
  ASSERT_EQ(set.Code, ecSuccess) << set.Err;
  EXPECT_THAT(set.Out,
              AllOf(HasSubstr("SMTPUser = ann"), HasSubstr("SMTPPass = (set)"), HasSubstr("FTPPass = (set)"),
                    Not(HasSubstr("wörd")), Not(HasSubstr("ftp-secret"))));

  // What the store holds decrypts to the lines that were read.
  std::ifstream in(optionsFile_);
  const std::string stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_THAT(stored, AllOf(Not(HasSubstr("wörd")), Not(HasSubstr("ftp-secret"))));
  host::TCryptoUtils::SetKeyFile(keyFile_);
  std::vector<std::string> decrypted;
  for (std::size_t at = stored.find("q1:"); at != std::string::npos; at = stored.find("q1:", at + 1)) {
    const std::size_t end = stored.find_first_of("<\" \n", at);
    decrypted.push_back(host::TCryptoUtils::DecryptString(stored.substr(at, end - at)));
  }
  EXPECT_THAT(decrypted, ::testing::UnorderedElementsAre("mail pass wörd", "ftp-secret"));

  TResult missing = Run({"options", "--set-secret"});
  EXPECT_EQ(missing.Code, ecUsage);
  EXPECT_THAT(missing.Err, HasSubstr("--set-secret needs a value"));
}

TEST_F(QuillonCliTest, SecretPrintsAStoredFormThatDecryptsToTheInput) {
  TResult r = RunWithStores({"secret"}, "correct horse battery\n");
  ASSERT_EQ(r.Code, ecSuccess) << r.Err;
  auto lines = Lines(r.Out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(lines[0], Not(HasSubstr("horse")));
  EXPECT_TRUE(fs::exists(keyFile_));  // the key file given on the command line was used
  host::TCryptoUtils::SetKeyFile(keyFile_);
  EXPECT_EQ(host::TCryptoUtils::DecryptString(lines[0]), "correct horse battery");
}

// A nightly upload: the second run starts from what the first learned (kept beside, never in,
// the project file) and sends only the file that changed; --no-state starts afresh.
TEST_F(QuillonCliTest, ASecondRunStartsFromTheLearnedValuesAndSendsOnlyWhatChanged) {
  testsupport::FtpServer server(testsupport::FtpServerKind::Pyftpdlib);
  const fs::path site = dir_ / "site";
  fs::create_directories(site);
  const auto age = [&](const char* name, int minutes) {
    fs::last_write_time(site / name, fs::file_time_type::clock::now() - std::chrono::minutes(minutes));
  };
  for (const char* name : {"a.txt", "b.txt"}) {
    std::ofstream(site / name) << name;
    age(name, 60);
  }
  const TResult secret = RunWithStores({"secret", "--for", "TFTPConnectionAction"}, server.Password() + "\n");
  ASSERT_EQ(secret.Code, ecSuccess) << secret.Err;
  const auto property = [](const std::string& name, const std::string& value) {
    return "<property name=\"" + name + "\">" + value + "</property>";
  };
  const std::string path = WriteProject(
      "nightly.xml",
      "<action class=\"TFTPConnectionAction\">" + property("FTPConnectionName", "Site1") +
          property("FTPHost", server.Host()) + property("FTPPort", std::to_string(server.Port())) +
          property("UserID", server.User()) + property("Cookie", Lines(secret.Out).at(0)) +
          property("Passive", "true") + "</action>\n<action class=\"TFTPUploadFileAction\">" +
          property("ConnectionName", "Site1") + property("LocalDir", site.string()) + property("FileSpec", "*.txt") +
          property("UpdateOnly", "true") + property("ServerClockSkew", "30") + "</action>\n");
  const auto text = [](const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  const std::string project = text(path);
  const std::string uploading = "Uploading File : " + site.string() + "/";

  TResult first = RunWithStores({"run", path});
  ASSERT_EQ(first.Code, ecSuccess) << first.Out << first.Err;
  EXPECT_THAT(first.Out, AllOf(HasSubstr(uploading + "a.txt"), HasSubstr(uploading + "b.txt"),
                               HasSubstr("(Updated server clock skew from 30 to 0 minutes.)")));
  EXPECT_EQ(text(path), project);
  EXPECT_TRUE(fs::exists(dir_ / "state" / "quillon"));

  age("a.txt", 60);
  age("b.txt", 60);
  std::ofstream(site / "b.txt") << "b.TXT";  // touched
  TResult second = RunWithStores({"run", path});
  ASSERT_EQ(second.Code, ecSuccess) << second.Out << second.Err;
  EXPECT_THAT(second.Err, AllOf(HasSubstr("Using the stored ServerClockSkew = 0 of FTP Upload"),
                                HasSubstr("Using the stored ForceNextClockSkewUpdate = false")));
  EXPECT_THAT(second.Out, AllOf(HasSubstr("Skipping file " + site.string() + "/a.txt"),
                                HasSubstr(uploading + "b.txt"), Not(HasSubstr(uploading + "a.txt"))));
  EXPECT_EQ(text(path), project);

  TResult fresh = RunWithStores({"run", path, "--no-state"});
  ASSERT_EQ(fresh.Code, ecSuccess) << fresh.Out << fresh.Err;
  EXPECT_THAT(fresh.Err, Not(HasSubstr("Using the stored")));
  EXPECT_THAT(fresh.Out, AllOf(HasSubstr(uploading + "a.txt"), HasSubstr("from 30 to 0 minutes")));
}

// ---------------------------------------------------------------- Ctrl-C on the real binary

// Starts the runner with stdout and stderr on one pipe.
class TChild {
 public:
  explicit TChild(const std::vector<std::string>& args) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(fds[1], STDOUT_FILENO);
      ::dup2(fds[1], STDERR_FILENO);
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      ::signal(SIGINT, SIG_DFL);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    fd_ = fds[0];
  }
  ~TChild() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) ::close(fd_);
  }
  bool Started() const { return pid_ > 0 && fd_ >= 0; }
  pid_t Pid() const { return pid_; }

  // Reads until the output holds `text` or the deadline passes.
  bool WaitForOutput(const std::string& text, std::chrono::steady_clock::duration limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (Output.find(text) == std::string::npos) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[512];
      ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n <= 0) return Output.find(text) != std::string::npos;
      Output.append(buf, static_cast<size_t>(n));
    }
    return true;
  }
  // The exit status, or nullopt when the child is still running at the deadline.
  std::optional<int> WaitForExit(std::chrono::steady_clock::duration limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      int st = 0;
      if (::waitpid(pid_, &st, WNOHANG) == pid_) {
        status_ = st;
        WaitForOutput("\x01never\x01", 1s);  // drain what is left
        return st;
      }
      std::this_thread::sleep_for(10ms);
    }
    return std::nullopt;
  }

  std::string Output;

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::optional<int> status_;
};

TEST_F(QuillonCliTest, CtrlCStopsTheRunningActionAndExitsWith130) {
  const std::string binary = QUILLON_BINARY_DIR "/apps/quillon/quillon";
  ASSERT_TRUE(fs::exists(binary)) << binary << " is missing: build the quillon target too";
  std::string path = WriteProject(
      "delay.xml",
      "    <action class=\"TDelayAction\"><property name=\"Milliseconds\">60000</property></action>\n" +
          LogAction("never"));
  for (int signals : {1, 2}) {
    SCOPED_TRACE(std::to_string(signals) + " SIGINT");
    TChild child({binary, "run", path, "--options", optionsFile_, "--key-file", keyFile_});
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(child.WaitForOutput("Delay [ 60000 ms ]", 20s)) << child.Output;
    for (int i = 0; i < signals; ++i) ::kill(child.Pid(), SIGINT);
    // Far less than the delay: only a run that ignored the signal takes this long.
    auto status = child.WaitForExit(20s);
    ASSERT_TRUE(status) << "still running after SIGINT:\n" << child.Output;
    ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status) << "\n" << child.Output;
    EXPECT_EQ(WEXITSTATUS(*status), ecInterrupted) << child.Output;
    EXPECT_THAT(child.Output, Not(HasSubstr("never")));
    if (signals == 1) {
      EXPECT_THAT(child.Output, HasSubstr("Run stopped."));
    }
  }
}

}  // namespace
}  // namespace quillon
