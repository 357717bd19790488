#include "apps/quillon/QuillonCli.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "host/MxCrypto.h"
#include "host/MxHostActions.h"
#include "host/MxOptions.h"
#include "host/MxProject.h"
#include "host/MxRunner.h"
#include "host/MxScripting.h"
#include "host/MxServices.h"
#include "host/MxStateStore.h"
#include "package/MxInternetActions.h"
#include "rtl/Synchronize.h"
#include "rtl/TlsSettings.h"

namespace quillon {

namespace {

const char* const k_usage =
    "usage: quillon COMMAND [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  run PROJECT        validate, then run the project's actions in order\n"
    "  validate PROJECT   load and validate the project without running it\n"
    "  actions            list every action with its properties, types and defaults\n"
    "  options            show the global options; --set NAME=VALUE changes one\n"
    "  secret             read a password from standard input and print its stored form\n"
    "\n"
    "options:\n"
    "  --var NAME=VALUE   set a project variable (repeatable; wins over the file's)\n"
    "  --options FILE     the option store (default ~/.config/quillon/options.xml)\n"
    "  --key-file FILE    the key file for stored passwords (default ~/.config/quillon/key,\n"
    "                     or $QUILLON_KEY_FILE)\n"
    "  --ca-file FILE     trust the certificates in FILE besides the system's\n"
    "  --insecure-tls     do not verify server certificates\n"
    "  --log text|json    log format (default text)\n"
    "  --quiet            only warnings and errors\n"
    "  --no-state         with run: neither use nor keep the values actions learn between runs\n"
    "                     (kept in $XDG_STATE_HOME/quillon, else ~/.local/state/quillon)\n"
    "  --for CLASS        with secret: the action class whose stored form to print\n"
    "  --set NAME=VALUE   with options: change a global option (repeatable)\n"
    "  --set-secret NAME  with options: read the value of NAME from standard input, as secret\n"
    "                     does, so a password stays out of the command line (repeatable)\n";

class EUsage : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

struct TOptions {
  std::string Command;
  std::string Project;
  std::vector<std::pair<std::string, std::string>> Vars;
  std::vector<std::pair<std::string, std::string>> Sets;
  std::vector<std::string> SecretSets;  // names whose values are read from standard input
  std::string OptionsFile;
  std::string KeyFile;
  std::string CaFile;
  std::string ForClass;
  bool InsecureTls = false;
  bool Json = false;
  bool Quiet = false;
  bool NoState = false;
  bool Help = false;
};

std::pair<std::string, std::string> SplitAssignment(const std::string& flag, const std::string& text) {
  auto eq = text.find('=');
  if (eq == std::string::npos || eq == 0) throw EUsage(flag + " takes NAME=VALUE, not \"" + text + "\"");
  return {text.substr(0, eq), text.substr(eq + 1)};
}

TOptions ParseArgs(const std::vector<std::string>& args) {
  TOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const std::string& flag) -> std::string {
      if (i + 1 >= args.size()) throw EUsage(flag + " needs a value");
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      o.Help = true;
    } else if (a == "--var") {
      o.Vars.push_back(SplitAssignment(a, value(a)));
    } else if (a == "--set") {
      o.Sets.push_back(SplitAssignment(a, value(a)));
    } else if (a == "--set-secret") {
      o.SecretSets.push_back(value(a));
    } else if (a == "--options") {
      o.OptionsFile = value(a);
    } else if (a == "--key-file") {
      o.KeyFile = value(a);
    } else if (a == "--ca-file") {
      o.CaFile = value(a);
    } else if (a == "--for") {
      o.ForClass = value(a);
    } else if (a == "--insecure-tls") {
      o.InsecureTls = true;
    } else if (a == "--quiet" || a == "-q") {
      o.Quiet = true;
    } else if (a == "--no-state") {
      o.NoState = true;
    } else if (a == "--log") {
      std::string f = value(a);
      if (f == "json") o.Json = true;
      else if (f != "text") throw EUsage("--log takes text or json, not \"" + f + "\"");
    } else if (a.rfind("--", 0) == 0) {
      throw EUsage("unknown option " + a);
    } else if (o.Command.empty()) {
      o.Command = a;
    } else if (o.Project.empty() && (o.Command == "run" || o.Command == "validate")) {
      o.Project = a;
    } else {
      throw EUsage("unexpected argument \"" + a + "\"");
    }
  }
  return o;
}

std::string JsonEscape(const std::string& s) {
  std::string out;
  out.reserve(s.size() + 2);
  out.push_back('"');
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out.push_back('"');
  return out;
}

std::string TimeText(bool iso) {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm tm{};
  char buf[64];
  if (iso) {
    gmtime_r(&t, &tm);
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
  } else {
    localtime_r(&t, &tm);
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
  }
  return buf;
}

const char* LevelName(int tag) {
  switch (tag) {
    case host::stSuccess: return "ok";
    case host::stWarning: return "warning";
    case host::stError: return "error";
    default: return "info";
  }
}

// Writes log lines, progress and run events in the chosen format. Called from the run thread
// and the stop watcher; one mutex keeps lines whole.
class TReporter {
 public:
  TReporter(TConsole& c, bool json, bool quiet) : c_(c), json_(json), quiet_(quiet) {}

  void ActionStart(const host::TMxAction& a) {
    std::lock_guard lock(mu_);
    ClearProgress();
    lastProgressPercent_ = -1;
    lastProgressTime_ = {};
    if (json_) {
      c_.Out << "{\"time\":" << JsonEscape(TimeText(true)) << ",\"event\":\"start\",\"action\":"
             << JsonEscape(a.GetFormattedDescription()) << ",\"class\":" << JsonEscape(a.ClassName()) << "}\n";
    } else if (!quiet_) {
      c_.Out << TimeText(false) << " " << Paint("▶ " + a.GetFormattedDescription(), "1") << "\n";
    }
    c_.Out.flush();
  }

  void Log(const host::TMxAction& a, const std::string& text, int tag) {
    std::lock_guard lock(mu_);
    if (quiet_ && tag != host::stWarning && tag != host::stError) return;
    ClearProgress();
    if (json_) {
      c_.Out << "{\"time\":" << JsonEscape(TimeText(true)) << ",\"event\":\"log\",\"action\":"
             << JsonEscape(a.GetFormattedDescription()) << ",\"tag\":" << tag << ",\"level\":\""
             << LevelName(tag) << "\",\"text\":" << JsonEscape(text) << "}\n";
    } else {
      static const char* const labels[] = {"info ", "ok   ", "warn ", "error"};
      static const char* const colours[] = {"0", "32", "33", "31"};
      int t = tag >= 0 && tag <= 3 ? tag : 0;
      std::string line = std::string(labels[t]) + " " + a.GetActionName() + ": " + text;
      c_.Out << TimeText(false) << " " << Paint(line, colours[t]) << "\n";
      RedrawProgress();
    }
    c_.Out.flush();
  }

  void Progress(const host::TMxAction& a, const std::string& text, int percent) {
    std::lock_guard lock(mu_);
    if (quiet_) return;
    percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    if (json_) {
      c_.Out << "{\"time\":" << JsonEscape(TimeText(true)) << ",\"event\":\"progress\",\"action\":"
             << JsonEscape(a.GetFormattedDescription()) << ",\"percent\":" << percent
             << ",\"text\":" << JsonEscape(text) << "}\n";
    } else if (c_.Terminal) {
      progress_ = Bar(percent) + " " + text;
      if (progress_.size() > 100) progress_.resize(100);
      RedrawProgress();
    } else {
      // Plain output: one line a second at most, and the last step.
      auto now = std::chrono::steady_clock::now();
      if (percent == lastProgressPercent_ && now - lastProgressTime_ < std::chrono::seconds(1)) return;
      if (now - lastProgressTime_ < std::chrono::seconds(1) && percent != 100) return;
      lastProgressPercent_ = percent;
      lastProgressTime_ = now;
      c_.Out << TimeText(false) << " progress " << percent << "% " << text << "\n";
    }
    c_.Out.flush();
  }

  void Note(const std::string& text, int tag) {
    std::lock_guard lock(mu_);
    ClearProgress();
    if (json_) {
      c_.Out << "{\"time\":" << JsonEscape(TimeText(true)) << ",\"event\":\"note\",\"level\":\"" << LevelName(tag)
             << "\",\"text\":" << JsonEscape(text) << "}\n";
    } else if (!quiet_ || tag >= host::stWarning) {
      c_.Err << text << "\n";
    }
    c_.Out.flush();
  }

  // A validation failure: the file, line and action it belongs to, in words or as JSON fields.
  void Failure(const std::string& file, const host::TValidationFailure& f) {
    std::lock_guard lock(mu_);
    ClearProgress();
    const std::string where = file + (f.Line > 0 ? ":" + std::to_string(f.Line) : "");
    const std::string text = where + ": " + f.Action + " (action " + f.Position + "): " +
                             (f.Property.empty() ? "" : f.Property + ": ") + f.Message;
    if (json_) {
      c_.Out << "{\"time\":" << JsonEscape(TimeText(true)) << ",\"event\":\"invalid\",\"level\":\"error\",\"file\":"
             << JsonEscape(file) << ",\"line\":" << f.Line << ",\"position\":" << JsonEscape(f.Position)
             << ",\"action\":" << JsonEscape(f.Action) << ",\"property\":" << JsonEscape(f.Property);
      if (!f.Script.empty()) c_.Out << ",\"script\":" << JsonEscape(f.Script) << ",\"scriptLine\":" << f.ScriptLine;
      c_.Out << ",\"message\":" << JsonEscape(f.Message) << ",\"text\":" << JsonEscape(text) << "}\n";
    } else {
      c_.Err << "error: " << text << "\n";
    }
    c_.Out.flush();
  }

  void End(host::TRunResult r) {
    std::lock_guard lock(mu_);
    ClearProgress();
    const char* word = r == host::TRunResult::Success ? "success" : r == host::TRunResult::Failed ? "failed" : "stopped";
    if (json_) {
      c_.Out << "{\"time\":" << JsonEscape(TimeText(true)) << ",\"event\":\"end\",\"result\":\"" << word << "\"}\n";
    } else if (!quiet_ || r != host::TRunResult::Success) {
      const char* colour = r == host::TRunResult::Success ? "32" : "31";
      c_.Out << TimeText(false) << " " << Paint(std::string("Run ") + word + ".", colour) << "\n";
    }
    c_.Out.flush();
  }

 private:
  std::string Paint(const std::string& s, const char* colour) const {
    if (!c_.Terminal || std::string(colour) == "0") return s;
    return std::string("\x1b[") + colour + "m" + s + "\x1b[0m";
  }
  static std::string Bar(int percent) {
    const int width = 20;
    int full = percent * width / 100;
    std::string s = "[";
    for (int i = 0; i < width; ++i) s += i < full ? "#" : "-";
    s += "] " + std::to_string(percent) + "%";
    return s;
  }
  void ClearProgress() {
    if (c_.Terminal && shown_) {
      c_.Out << "\r\x1b[2K";
      shown_ = false;
    }
    if (!c_.Terminal) return;
  }
  void RedrawProgress() {
    if (!c_.Terminal || progress_.empty()) return;
    c_.Out << "\r\x1b[2K" << progress_;
    shown_ = true;
  }

  TConsole& c_;
  bool json_, quiet_;
  std::mutex mu_;
  std::string progress_;
  bool shown_ = false;
  int lastProgressPercent_ = -1;
  std::chrono::steady_clock::time_point lastProgressTime_{};
};

// The package as this runner hosts it: host actions, MxRegister as a run-only host, and the
// option store.
struct TRuntime {
  host::THost Host{false};
  host::TMxOptionStore Store;
  std::string StorePath;
  std::vector<std::string> Warnings;

  explicit TRuntime(const TOptions& o) {
    if (!o.KeyFile.empty()) host::TCryptoUtils::SetKeyFile(o.KeyFile);
    rtl::TTlsSettings tls;
    tls.CaFile = o.CaFile;
    tls.Insecure = o.InsecureTls;
    rtl::SetTlsSettings(tls);
    host::RegisterHostActions(Host);
    mx::MxRegister(Host);
    StorePath = o.OptionsFile.empty() ? host::DefaultOptionStorePath() : o.OptionsFile;
    if (!o.OptionsFile.empty() && ::access(StorePath.c_str(), F_OK) != 0)
      Warnings.push_back("warning: option store " + StorePath + " not found; using the defaults");
    Store.Load(StorePath);
    if (!Store.LastWarning().empty()) Warnings.push_back("warning: " + Store.LastWarning() + "; using the defaults");
    for (auto& w : Host.Options().LoadAll(Store)) Warnings.push_back("warning: " + w);
  }
};

// Ctrl-C: the handler only writes to a pipe; a watcher thread turns the first signal into a
// stop request and the second into an immediate exit.
int g_signalPipe[2] = {-1, -1};
void OnSigInt(int) {
  char b = 1;
  ssize_t n = ::write(g_signalPipe[1], &b, 1);
  (void)n;
}

int CmdRun(const TOptions& o, TConsole& c, bool runIt) {
  if (o.Project.empty()) throw EUsage(o.Command + " needs a project file");
  TRuntime rt(o);
  TReporter reporter(c, o.Json, o.Quiet);
  for (const auto& w : rt.Warnings) reporter.Note(w, host::stWarning);

  std::unique_ptr<host::TProject> project;
  try {
    project = host::TProject::LoadFromFile(o.Project, rt.Host);
  } catch (const host::EProjectError& e) {
    reporter.Note(std::string("error: ") + e.what(), host::stError);
    return ecUsage;
  }
  for (const auto& v : o.Vars) project->Variables.push_back(v);

  host::TProjectRunner runner(*project);
  auto failures = runner.Validate();
  if (!failures.empty()) {
    for (const auto& f : failures) reporter.Failure(o.Project, f);
    return ecUsage;
  }
  if (!runIt) {
    reporter.Note(o.Project + ": valid", host::stInformation);
    return ecSuccess;
  }

  // Values the actions learned in earlier runs; the project file itself is never written.
  std::optional<host::TStateStore> state;
  if (!o.NoState) {
    state.emplace(host::TStateStore::DefaultDirectory(), o.Project);
    for (const std::string& line : state->Apply(*project)) reporter.Note(line, host::stInformation);
    if (!state->Warning().empty()) reporter.Note("warning: " + state->Warning(), host::stWarning);
  }

  project->Context().OnLog = [&](const host::TMxAction& a, const std::string& t, int tag) { reporter.Log(a, t, tag); };
  project->Context().OnProgress = [&](const host::TMxAction& a, const std::string& t, int p) {
    reporter.Progress(a, t, p);
  };
  runner.OnActionStart = [&](const host::TMxAction& a) { reporter.ActionStart(a); };

  rtl::SetMainThread();
  if (::pipe2(g_signalPipe, O_CLOEXEC) != 0) throw rtl::Exception("cannot create the signal pipe");
  struct sigaction sa {};
  sa.sa_handler = OnSigInt;
  sa.sa_flags = SA_RESTART;
  sigemptyset(&sa.sa_mask);
  struct sigaction oldInt {}, oldTerm {};
  sigaction(SIGINT, &sa, &oldInt);
  sigaction(SIGTERM, &sa, &oldTerm);

  std::atomic<bool> done{false};
  std::thread watcher([&] {
    int count = 0;
    for (;;) {
      // The signal may land on this very thread while it reads: an interrupted read is no end.
      char b;
      const ssize_t got = ::read(g_signalPipe[0], &b, 1);
      if (got < 0 && errno == EINTR) continue;
      if (got != 1 || b == 0) break;  // the run is over
      if (++count == 1) {
        reporter.Note("Stopping… (press Ctrl-C again to quit at once)", host::stWarning);
        runner.RequestStop();
      } else {
        std::fflush(nullptr);
        ::_exit(ecInterrupted);
      }
    }
  });

  host::TRunResult result = host::TRunResult::Failed;
  std::thread runThread([&] {
    result = runner.Run();
    done = true;
    rtl::WakeMainThread();
  });
  // The main thread serves the main-thread queue while the run thread works.
  while (!done) rtl::CheckSynchronize(100);
  runThread.join();
  while (rtl::CheckSynchronize(0)) {
  }

  char stopByte = 0;
  ssize_t n = ::write(g_signalPipe[1], &stopByte, 1);
  (void)n;
  watcher.join();
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
  ::close(g_signalPipe[0]);
  ::close(g_signalPipe[1]);

  if (state) {
    try {
      state->Save(*project);
    } catch (const std::exception& e) {
      reporter.Note(std::string("warning: ") + e.what(), host::stWarning);
    }
  }
  reporter.End(result);
  switch (result) {
    case host::TRunResult::Success: return ecSuccess;
    case host::TRunResult::Stopped: return ecInterrupted;
    default: return ecActionFailed;
  }
}

// One line per property: "Name : type (value names) = default  [marks]", then its help text.
// Published objects and child classes are listed as the child elements they are written as.
void PrintProperties(std::ostream& out, const host::TPropTable& table, const std::string& indent) {
  for (const host::TPropInfo& p : table) {
    if (p.Kind == host::TPropKind::Object) {
      out << indent << p.Name << " : child " << p.TypeName << "\n";
      continue;
    }
    out << indent << p.Name << " : " << p.TypeName;
    if (!p.EnumNames.empty()) {
      out << " (";
      for (size_t i = 0; i < p.EnumNames.size(); ++i) out << (i ? " | " : "") << p.EnumNames[i];
      out << ")";
    }
    if (!p.DefaultText.empty()) out << " = " << p.DefaultText;
    std::vector<std::string> marks;
    if (p.Hidden) marks.push_back("hidden");
    if (p.ReadOnly())
      marks.push_back("read-only");
    else if (!p.Stored)
      marks.push_back("not stored");
    if (p.Secret) marks.push_back("password");
    for (size_t i = 0; i < marks.size(); ++i) out << (i ? ", " : "  [") << marks[i];
    out << (marks.empty() ? "" : "]") << "\n";
    if (!p.Help.empty()) out << indent << "    " << p.Help << "\n";
  }
  for (const auto& cls : table.ChildClasses()) out << indent << "child " << cls << " (any number)\n";
}

int CmdActions(const TOptions& o, TConsole& c) {
  TRuntime rt(o);
  std::ostream& out = c.Out;
  for (const auto& entry : rt.Host.Actions().Actions()) {
    std::unique_ptr<host::TMxAction> a = rt.Host.Actions().CreateAction(entry.Class.Name);
    if (!a) continue;
    out << entry.Class.Name << "  \"" << a->GetActionName() << "\"  (" << entry.Category << ")\n";
    PrintProperties(out, a->GetProperties(), "  ");
    if (a->GetIsFlowControlAction()) out << "  child actions in <actions>\n";
    for (const auto& s : a->Scripts().Scripts()) {
      out << "  script " << s->Name;
      if (!s->ParamNames().empty()) {
        out << " (";
        for (size_t i = 0; i < s->ParamNames().size(); ++i) out << (i ? ", " : "") << s->ParamNames()[i];
        out << ")";
      }
      out << "\n";
    }
  }
  if (!rt.Host.XMLClasses().Classes().empty()) {
    out << "\npersisted child classes:\n";
    for (const auto& cls : rt.Host.XMLClasses().Classes()) {
      out << "  " << cls.Name << "\n";
      std::unique_ptr<host::TObject> made = cls.Create ? cls.Create() : nullptr;
      if (auto* child = dynamic_cast<host::TPublishedObject*>(made.get()))
        PrintProperties(out, child->GetProperties(), "    ");
    }
  }
  out << "\noption objects:\n";
  for (const auto& obj : rt.Host.Options().Objects()) {
    out << "  " << obj->ClassName() << "  \"" << obj->GetName() << "\"  (" << obj->GetCategory() << ")\n";
    PrintProperties(out, obj->GetProperties(), "    ");
  }
  const auto& scripting = rt.Host.Scripting();
  if (!scripting.Constants().empty() || !scripting.Enumerations().empty() || !scripting.MethodClasses().empty()) {
    out << "\nscript names:\n";
    for (const auto& k : scripting.Constants()) out << "  constant " << k.Name << " = " << k.Value.AsString() << "\n";
    for (const auto& e : scripting.Enumerations()) {
      out << "  enumeration " << e.TypeName << " (";
      for (size_t i = 0; i < e.ValueNames.size(); ++i) out << (i ? ", " : "") << e.ValueNames[i];
      out << ")\n";
    }
    for (const auto& cls : scripting.MethodClasses()) {
      out << "  methods of " << cls << ":";
      for (const auto& m : scripting.Methods(cls)) out << " " << m;
      for (const auto& al : scripting.Aliases(cls)) out << " " << al.ScriptName << "=" << al.Method;
      out << "\n";
    }
  }
  return ecSuccess;
}

std::string ReadSecret(TConsole& c, const std::string& prompt = "Password: ");

int CmdOptions(const TOptions& o, TConsole& c) {
  TRuntime rt(o);
  for (const auto& w : rt.Warnings) c.Err << w << "\n";
  std::vector<std::pair<std::string, std::string>> sets = o.Sets;
  for (const auto& name : o.SecretSets) sets.emplace_back(name, ReadSecret(c, name + ": "));
  if (!sets.empty()) {
    std::vector<host::TMxOptionsObject*> changed;
    for (const auto& [name, value] : sets) {
      host::TMxOptionsObject* owner = nullptr;
      for (const auto& obj : rt.Host.Options().Objects())
        if (obj->GetProperties().Find(name)) owner = obj.get();
      if (!owner) throw EUsage("unknown option \"" + name + "\" (see `quillon options`)");
      owner->SetOptionProperty(name, value);
      if (std::find(changed.begin(), changed.end(), owner) == changed.end()) changed.push_back(owner);
    }
    for (auto* obj : changed)
      if (obj->GetModified()) rt.Host.Options().Save(*obj, rt.Store);
    rt.Store.Save(rt.StorePath);
    c.Out << "saved " << rt.StorePath << "\n";
  }
  for (const auto& obj : rt.Host.Options().Objects()) {
    c.Out << obj->GetName() << " [" << obj->GetOptionKey() << "]\n";
    for (const auto& p : obj->GetOptionProperties())
      c.Out << "  " << p.Name << " = " << p.Value << "   (" << p.Type << ")\n";
  }
  return ecSuccess;
}

// One line, without echo on a terminal: a secret kept out of the command line is kept out of
// the shell's history and the process list.
std::string ReadSecret(TConsole& c, const std::string& prompt) {
  struct termios old {};
  bool restore = false;
  if (c.InputTerminal && ::tcgetattr(STDIN_FILENO, &old) == 0) {
    struct termios quiet = old;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    restore = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    c.Err << prompt << std::flush;
  }
  std::string line;
  std::getline(c.In, line);
  if (restore) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
    c.Err << "\n";
  }
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return line;
}

int CmdSecret(const TOptions& o, TConsole& c) {
  TRuntime rt(o);
  std::string keyText;
  if (!o.ForClass.empty()) {
    auto a = rt.Host.Actions().CreateAction(o.ForClass);
    if (!a) throw EUsage("unknown action class \"" + o.ForClass + "\" (see `quillon actions`)");
    keyText = a->GetPasswordKeyText();
  }
  std::string secret = ReadSecret(c);
  c.Out << host::TCryptoUtils::EncryptString(secret, keyText) << "\n";
  return ecSuccess;
}

}  // namespace

int RunQuillon(const std::vector<std::string>& args, TConsole& console) {
  try {
    TOptions o = ParseArgs(args);
    if (o.Help || o.Command.empty() || o.Command == "help") {
      (o.Help || o.Command == "help" ? console.Out : console.Err) << k_usage;
      return o.Help || o.Command == "help" ? ecSuccess : ecUsage;
    }
    if (o.Command == "run") return CmdRun(o, console, true);
    if (o.Command == "validate") return CmdRun(o, console, false);
    if (o.Command == "actions") return CmdActions(o, console);
    if (o.Command == "options") return CmdOptions(o, console);
    if (o.Command == "secret") return CmdSecret(o, console);
    throw EUsage("unknown command \"" + o.Command + "\"");
  } catch (const EUsage& e) {
    console.Err << "quillon: " << e.what() << "\n" << "Try 'quillon --help'.\n";
    return ecUsage;
  } catch (const std::exception& e) {
    console.Err << "quillon: " << e.what() << "\n";
    return ecUsage;
  }
}

}  // namespace quillon
