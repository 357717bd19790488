#include "host/MxAction.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/MxExpression.h"
#include "host/MxFileSet.h"
#include "host/MxHostActions.h"
#include "host/MxProject.h"
#include "host/MxProjectObjects.h"
#include "host/MxRunner.h"
#include "host/MxScripting.h"
#include "host/MxServices.h"
#include "host/MxTimeout.h"
#include "host/MxWaitAction.h"
#include "rtl/FileSearch.h"

namespace host {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// Generous bound for things that must end "at once"; only a hang exceeds it.
constexpr auto k_hang_guard = 20s;

struct TLogLine {
  std::string Action, Text;
  int Tag;
};

// Collects the log lines of a context, from any thread.
class TLogCapture {
 public:
  explicit TLogCapture(TProjectContext& c) {
    c.OnLog = [this](const TMxAction& a, const std::string& text, int tag) {
      std::lock_guard lock(mu_);
      lines_.push_back({a.GetActionName(), text, tag});
    };
  }
  std::vector<TLogLine> Lines() const {
    std::lock_guard lock(mu_);
    return lines_;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& l : Lines()) out.push_back(l.Text);
    return out;
  }
  std::vector<std::string> TextsWithTag(int tag) const {
    std::vector<std::string> out;
    for (const auto& l : Lines())
      if (l.Tag == tag) out.push_back(l.Text);
    return out;
  }

 private:
  mutable std::mutex mu_;
  std::vector<TLogLine> lines_;
};

// An action whose behaviour each test sets directly.
class TProbeAction final : public TMxAction {
  MX_CLASS(TProbeAction, TMxAction)
  MX_PROPERTIES(TProbeAction, TMxAction)
 public:
  explicit TProbeAction(std::string label = "probe") : Label(std::move(label)) {}
  static void DefineProperties(TPropTable& t) { TMxAction::DefineProperties(t); }

  bool Execute() override {
    SendMessage("ran " + Label, stInformation);
    if (!ThrowText.empty()) throw rtl::Exception(ThrowText);
    if (SleepMs > 0 && !Sleep(SleepMs)) return false;
    return Result;
  }
  bool Validate(IMxActionValidationError& errors) override {
    if (!ValidateThrows.empty()) throw rtl::Exception(ValidateThrows);
    for (const auto& [p, m] : ValidateErrors) errors.AddError(p, m);
    return ValidateResult && ValidateErrors.empty();
  }
  std::string GetActionName() const override { return "Probe"; }
  std::string GetFormattedDescription() const override { return "Probe [ " + Label + " ]"; }
  bool GetIsFlowControlAction() const override { return FlowNext >= 0; }
  void GetNextActionSource(int, int& next) override { next = FlowNext; }
  void StopSignalled() override { ++StopSignals; }
  void TerminateAction() override { ++Terminations; }

  TProbeAction& Add(std::unique_ptr<TProbeAction> child) {
    child->SetContext(&Context());
    ChildActions().push_back(std::move(child));
    return static_cast<TProbeAction&>(*ChildActions().back());
  }

  std::string Label;
  bool Result = true;
  std::string ThrowText;
  int SleepMs = 0;
  int FlowNext = -1;  // -1: not a flow-control action
  bool ValidateResult = true;
  std::vector<std::pair<std::string, std::string>> ValidateErrors;
  std::string ValidateThrows;
  std::atomic<int> StopSignals{0}, Terminations{0};
};

class ActionTest : public ::testing::Test {
 protected:
  ActionTest() : log_(project_.Context()) { RegisterHostActions(host_); }

  template <class T>
  T& Add(std::unique_ptr<T> a) {
    return static_cast<T&>(project_.AddAction(std::move(a)));
  }
  TProbeAction& Probe(const std::string& label) { return Add(std::make_unique<TProbeAction>(label)); }

  THost host_{false};
  TProject project_;
  TLogCapture log_;
};

// ---------------------------------------------------------------- expansion and variables

TEST_F(ActionTest, ExpandsVariablesThenEnvironmentAndDoubledPercent) {
  ::setenv("QUILLON_TEST_ONLY_ENV", "from-env", 1);
  ::setenv("QUILLON_TEST_BOTH", "env-loses", 1);
  TProbeAction& a = Probe("x");
  a.SetVariable("Name", rtl::Variant("World"));
  a.SetVariable("QUILLON_TEST_BOTH", rtl::Variant("variable-wins"));
  a.SetVariable("Count", rtl::Variant(3));
  struct TCase {
    const char* Text;
    const char* Expected;
  } cases[] = {
      {"Hello %Name%", "Hello World"},
      {"%NAME%/%name%", "World/World"},
      {"100%%", "100%"},
      {"%%Name%%", "%Name%"},
      {"%QUILLON_TEST_ONLY_ENV%", "from-env"},
      {"%QUILLON_TEST_BOTH%", "variable-wins"},
      {"%Count% items", "3 items"},
      {"no references", "no references"},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(a.ExpandExpression(c.Text, false), c.Expected);
    std::string out;
    EXPECT_TRUE(a.TryExpandExpression("Message", c.Text, out, false));
    EXPECT_EQ(out, c.Expected);
  }
  EXPECT_THAT(log_.Lines(), IsEmpty());
  ::unsetenv("QUILLON_TEST_ONLY_ENV");
  ::unsetenv("QUILLON_TEST_BOTH");
}

TEST_F(ActionTest, FailedExpansionLogsOneErrorNamingPropertyAndVariable) {
  TProbeAction& a = Probe("x");
  a.SetVariable("Empty", rtl::Variant(""));
  struct TCase {
    const char* Text;
    bool MustNotBeEmpty;
    const char* Needle;  // what the error names besides the property
  } cases[] = {
      {"Hello %QUILLON_NO_SUCH_VAR%", false, "QUILLON_NO_SUCH_VAR"},
      {"50% off", false, "50% off"},
      {"%Empty%%", false, "%"},
      {"%Empty%", true, "empty"},
      {"", true, "empty"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    auto before = log_.Lines().size();
    std::string out = "untouched";
    EXPECT_FALSE(a.TryExpandExpression("Subject", c.Text, out, c.MustNotBeEmpty));
    auto lines = log_.Lines();
    ASSERT_EQ(lines.size(), before + 1);
    EXPECT_EQ(lines.back().Tag, stError);
    EXPECT_THAT(lines.back().Text,
                AllOf(HasSubstr("Could not expand"), HasSubstr("Subject"), HasSubstr(c.Needle)));
    EXPECT_THROW(a.ExpandExpression(c.Text, c.MustNotBeEmpty), EExpressionError);
  }
  // A password that fails to expand is never quoted.
  for (const char* name : {"Password", "Proxy Password"}) {
    std::string out;
    EXPECT_FALSE(a.TryExpandExpression(name, "s3cret%", out, false));
    EXPECT_EQ(log_.Lines().back().Text, std::string("Could not expand ") + name);
  }
}

TEST_F(ActionTest, VariableNamesIgnoreCase) {
  TProbeAction& a = Probe("x");
  a.SetVariable("Counter", rtl::Variant(1));
  a.SetVariable("COUNTER", rtl::Variant(2));
  EXPECT_TRUE(a.IsVariableDefined("counter"));
  EXPECT_EQ(a.GetVariableValue("cOuNtEr").AsInteger(), 2);
  EXPECT_EQ(project_.Context().Variables().size(), 1u);
  EXPECT_FALSE(a.IsVariableDefined("Count"));
  EXPECT_TRUE(a.GetVariableValue("Count").IsEmpty());
}

// ---------------------------------------------------------------- sleep and stop

TEST_F(ActionTest, SleepEndsEarlyWhenAnotherThreadRequestsStop) {
  TProbeAction& a = Probe("x");
  EXPECT_TRUE(a.Sleep(1));
  const auto start = std::chrono::steady_clock::now();
  std::thread stopper([this] {
    std::this_thread::sleep_for(50ms);
    project_.Context().RequestStop();
  });
  EXPECT_FALSE(a.Sleep(600000));
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, k_hang_guard);
  EXPECT_TRUE(a.IsStopSignalled());
  EXPECT_FALSE(a.Sleep(600000));  // a stop already requested ends every later sleep at once
  project_.Context().ClearStop();
  EXPECT_FALSE(a.IsStopSignalled());
  EXPECT_TRUE(a.Sleep(1));
}

// ---------------------------------------------------------------- project object registry

class TTestObject final : public IProjectObject {
 public:
  TTestObject(std::string name, std::string category, bool failReset = false)
      : name_(std::move(name)), category_(std::move(category)), failReset_(failReset) {}
  std::string Get_Category() override { return category_; }
  std::string Get_Name() override { return name_; }
  void Set_Name(const std::string& name) override { name_ = name; }
  void Reset() override {
    ++Resets;
    if (failReset_) throw rtl::Exception("reset failed");
  }
  int Resets = 0;

 private:
  std::string name_, category_;
  bool failReset_;
};

TEST(ProjectObjectServiceTest, FindsByNameAndCategoryIgnoringCase) {
  TProjectObjectService s;
  auto ftp1 = std::make_shared<TTestObject>("Site1", "FTPObject");
  auto set1 = std::make_shared<TTestObject>("Site1", "FileSetObject");
  auto ftp2 = std::make_shared<TTestObject>("Site2", "FTPObject");
  s.AddObject(ftp1);
  s.AddObject(set1);
  s.AddObject(ftp2);
  s.AddObject(ftp1);  // a second registration of the same object is ignored
  s.AddObject(nullptr);
  EXPECT_EQ(s.FindObject("site1", "ftpobject"), ftp1);
  EXPECT_EQ(s.FindObject("SITE1", "FileSetObject"), set1);
  EXPECT_TRUE(s.ObjectExists("Site2", "FTPObject"));
  EXPECT_FALSE(s.ObjectExists("Site2", "FileSetObject"));
  EXPECT_EQ(s.ObjectsOf("FTPObject"), (std::vector<std::shared_ptr<IProjectObject>>{ftp1, ftp2}));

  ftp1->Set_Name("Renamed");
  EXPECT_EQ(s.FindObject("renamed", "FTPObject"), ftp1);
  EXPECT_EQ(s.FindObject("Site1", "FTPObject"), nullptr);

  s.RemoveObject(ftp2.get());
  EXPECT_FALSE(s.ObjectExists("Site2", "FTPObject"));
}

TEST(ProjectObjectServiceTest, AcquireAndReleaseBalance) {
  TProjectObjectService s;
  auto o = std::make_shared<TTestObject>("Site1", "FTPObject");
  s.AddObject(o);
  EXPECT_EQ(s.AcquireObject("Site1", "FTPObject"), o);
  EXPECT_EQ(s.AcquireObject("site1", "ftpobject"), o);
  EXPECT_EQ(s.AcquireObject("Nope", "FTPObject"), nullptr);
  EXPECT_EQ(s.OutstandingAcquisitions(), 2);
  s.ReleaseObject(o.get());
  s.ReleaseObject(o.get());
  s.ReleaseObject(o.get());  // one release too many must not go below zero
  s.ReleaseObject(nullptr);
  EXPECT_EQ(s.OutstandingAcquisitions(), 0);
}

TEST(ProjectObjectServiceTest, ResetAllResetsEveryObjectPastFailures) {
  TProjectObjectService s;
  auto a = std::make_shared<TTestObject>("A", "X", /*failReset=*/true);
  auto b = std::make_shared<TTestObject>("B", "Y");
  s.AddObject(a);
  s.AddObject(b);
  EXPECT_NO_THROW(s.ResetAll());
  EXPECT_EQ(a->Resets, 1);
  EXPECT_EQ(b->Resets, 1);
}

// ---------------------------------------------------------------- time-out monitor

class TTimeoutTarget final : public IMxTimeoutTarget {
 public:
  int GetTimeoutLength() override { return 60; }
  void DoTimeOut() override { ++Fired; }
  std::atomic<int> Fired{0};
};

TEST(TimeoutMonitorTest, FiresOnceAfterItsLength) {
  TTimeoutTarget target;
  TTimeoutMonitorThread monitor(target, 20ms);
  ASSERT_TRUE(monitor.WaitFor(k_hang_guard));
  EXPECT_TRUE(monitor.Finished());
  EXPECT_TRUE(monitor.Fired());
  EXPECT_EQ(target.Fired, 1);
}

TEST(TimeoutMonitorTest, TerminatedMonitorNeverFires) {
  TTimeoutTarget target;
  {
    TTimeoutMonitorThread monitor(target, 1h);
    EXPECT_FALSE(monitor.Finished());
    monitor.DoTerminate();
    ASSERT_TRUE(monitor.WaitFor(k_hang_guard));
    EXPECT_FALSE(monitor.Fired());
  }
  {
    TTimeoutMonitorThread monitor(target);  // the target's 60 minutes; the destructor ends it
  }
  EXPECT_EQ(target.Fired, 0);
}

// ---------------------------------------------------------------- wait-action base

class TTestWait final : public TBaseWaitAction {
  MX_CLASS(TTestWait, TBaseWaitAction)
  MX_PROPERTIES(TTestWait, TBaseWaitAction)
 public:
  static void DefineProperties(TPropTable& t) { TBaseWaitAction::DefineProperties(t); }
  std::string GetActionName() const override { return "Test Wait"; }

  int MetOnPoll = 0;    // 0: never
  int ThrowOnPoll = 0;  // 0: never
  bool ThrowOnFinalize = false;
  std::atomic<int> Polls{0};
  int Inits = 0, Finals = 0;

 protected:
  void InitialiseWaitFunction() override { ++Inits; }
  bool PollWaitCondition() override {
    int n = ++Polls;
    if (n == ThrowOnPoll) throw EWaitException("Server went away");
    return n == MetOnPoll;
  }
  void FinalizeWaitFunction() override {
    ++Finals;
    if (ThrowOnFinalize) throw EWaitException("Could not release the session");
  }
};

TEST_F(ActionTest, WaitSucceedsWhenTheConditionIsMet) {
  auto& w = Add(std::make_unique<TTestWait>());
  w.MetOnPoll = 2;  // one poll interval (1 s) apart
  EXPECT_TRUE(w.Execute());
  EXPECT_EQ(w.Polls, 2);
  EXPECT_EQ(w.Inits, 1);
  EXPECT_EQ(w.Finals, 1);
  EXPECT_THAT(log_.TextsWithTag(stError), IsEmpty());
}

TEST_F(ActionTest, WaitTimesOut) {
  auto& w = Add(std::make_unique<TTestWait>());
  w.SetWaitTimeout(1);
  EXPECT_FALSE(w.Execute());
  EXPECT_GE(w.Polls, 1);
  EXPECT_EQ(w.Finals, 1);
  EXPECT_THAT(log_.TextsWithTag(stError), ElementsAre(HasSubstr("timed out")));
}

TEST_F(ActionTest, StopEndsAWaitWithoutTimeOut) {
  auto& w = Add(std::make_unique<TTestWait>());
  w.SetPollFreq(3600);
  std::thread stopper([&] {
    while (w.Polls == 0) std::this_thread::sleep_for(1ms);
    project_.Context().RequestStop();
  });
  EXPECT_FALSE(w.Execute());
  stopper.join();
  EXPECT_EQ(w.Polls, 1);
  EXPECT_EQ(w.Finals, 1);
  EXPECT_THAT(log_.TextsWithTag(stWarning), ElementsAre(HasSubstr("stopped")));
}

TEST_F(ActionTest, WaitExceptionEndsTheWaitAsAFailureWithItsMessage) {
  struct TCase {
    int MetOnPoll, ThrowOnPoll;
    bool ThrowOnFinalize;
    const char* Message;
  } cases[] = {
      {0, 1, false, "Server went away"},
      {1, 0, true, "Could not release the session"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Message);
    TTestWait w;
    w.SetContext(&project_.Context());
    w.MetOnPoll = c.MetOnPoll;
    w.ThrowOnPoll = c.ThrowOnPoll;
    w.ThrowOnFinalize = c.ThrowOnFinalize;
    auto before = log_.Lines().size();
    EXPECT_FALSE(w.Execute());
    EXPECT_EQ(w.Polls, 1);
    EXPECT_EQ(w.Finals, 1);
    auto lines = log_.Lines();
    ASSERT_EQ(lines.size(), before + 1);
    EXPECT_EQ(lines.back().Tag, stError);
    EXPECT_EQ(lines.back().Text, c.Message);
  }
}

// ---------------------------------------------------------------- host actions

class FileSetTest : public ActionTest {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("quillon-fileset-" + std::to_string(::getpid()));
    fs::remove_all(base_);
    for (const auto& [rel, size] : std::vector<std::pair<std::string, int>>{{"a.txt", 5},
                                                                            {"b.LOG", 3},
                                                                            {".hidden.txt", 11},
                                                                            {"sub/c.txt", 7},
                                                                            {"sub/deeper/d.log", 2},
                                                                            {".git/e.txt", 13}}) {
      fs::create_directories((base_ / rel).parent_path());
      std::ofstream(base_ / rel) << std::string(static_cast<size_t>(size), 'x');
    }
  }
  void TearDown() override { fs::remove_all(base_); }

  TDefineFileSetAction& Define(const std::string& name, std::vector<std::string> masks, bool recursive) {
    auto& a = Add(std::make_unique<TDefineFileSetAction>());
    a.SetFileSetName(name);
    a.SetBaseDirectory(base_.string() + "/");
    for (auto& m : masks) a.GetIncludeMasks().Add(m);
    a.SetRecursive(recursive);
    return a;
  }
  std::shared_ptr<IFileSet> Find(const std::string& name) {
    return std::dynamic_pointer_cast<IFileSet>(
        project_.Context().Objects().FindObject(name, "FileSetObject"));
  }

  fs::path base_;
};

TEST_F(FileSetTest, RegistersAFileSetListingFilesByMasks) {
  project_.Context().SetVariable("EXT", rtl::Variant("*.log"));
  struct TCase {
    std::vector<std::string> Masks;
    bool Recursive;
    const char* Files;  // relative paths joined by '|'; hidden entries only by a mask starting with '.'
    int Size;
  } cases[] = {
      {{"*.txt"}, false, "a.txt", 5},
      {{"*.txt"}, true, "a.txt|sub/c.txt", 12},
      {{"*.txt", "*.log"}, true, "a.txt|b.LOG|sub/c.txt|sub/deeper/d.log", 17},
      {{}, false, "a.txt|b.LOG", 8},
      {{" %EXT% ", ""}, true, "b.LOG|sub/deeper/d.log", 5},
      {{"*.none"}, true, "", 0},
      {{".*.txt"}, true, ".hidden.txt", 11},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.Masks) + (c.Recursive ? " recursive" : ""));
    auto& a = Define("Site", c.Masks, c.Recursive);
    ASSERT_TRUE(a.Execute());
    auto set = Find("site");
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(project_.Context().Objects().ObjectsOf("FileSetObject").size(), 1u);  // replaced, not added
    EXPECT_EQ(set->GetFileListText(flRelativePaths, "|"), c.Files);
    EXPECT_EQ(set->GetTotalSize(), c.Size);
    EXPECT_EQ(set->GetBaseDirectory(), base_.string());
    EXPECT_EQ(log_.Lines().back().Tag, stSuccess);
  }
}

TEST_F(FileSetTest, ListModesGiveNamesAndFullPaths) {
  ASSERT_TRUE(Define("Site", {"*.txt"}, true).Execute());
  auto set = Find("Site");
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->GetFileListText(flFileNames, ","), "a.txt,c.txt");
  EXPECT_EQ(set->GetFileListText(flFullPaths, "\r\n"),
            base_.string() + "/a.txt\r\n" + base_.string() + "/sub/c.txt");
  // The set is read from disk when asked, not when defined.
  std::ofstream(base_ / "late.txt") << "x";
  EXPECT_EQ(set->GetFileListText(flFileNames, ","), "a.txt,late.txt,c.txt");
}

TEST_F(FileSetTest, RootBaseDirectoryListsTheRootNotTheCurrentDirectory) {
  const fs::path cwd = fs::current_path();
  fs::current_path(base_);  // holds a.txt and b.LOG
  auto& a = Define("Root", {"*"}, false);
  a.SetBaseDirectory("/");
  const bool ok = a.Execute();
  fs::current_path(cwd);
  ASSERT_TRUE(ok);
  std::vector<std::string> names;
  for (const auto& r : rtl::FindFiles("/", "*", 0)) names.push_back(r.Name);
  std::string expected;
  for (const auto& n : names) expected += (expected.empty() ? "" : "|") + n;
  EXPECT_EQ(Find("Root")->GetFileListText(flRelativePaths, "|"), expected);
}

TEST_F(FileSetTest, FailsOnAMissingBaseDirectoryAndValidatesItsFields) {
  auto& a = Define("Site", {}, false);
  a.SetBaseDirectory((base_ / "missing").string());
  EXPECT_FALSE(a.Execute());
  EXPECT_THAT(log_.TextsWithTag(stError), ElementsAre(HasSubstr("missing")));
  EXPECT_EQ(Find("Site"), nullptr);

  TDefineFileSetAction blank;
  blank.SetFileSetName("  ");
  TValidationErrors errors;
  EXPECT_FALSE(blank.Validate(errors));
  ASSERT_EQ(errors.Errors().size(), 2u);
  EXPECT_EQ(errors.Errors()[0].Property, "FileSetName");
  EXPECT_EQ(errors.Errors()[1].Property, "BaseDirectory");
}

TEST_F(ActionTest, SetVariableAndLogMessageExpandTheirValues) {
  project_.Variables = {{"WHO", "World"}};
  auto& set = Add(std::make_unique<TSetVariableAction>());
  set.SetVariableName(" Greeting ");
  set.SetValue("Hello %WHO%");
  Add(std::make_unique<TLogMessageAction>()).SetMessage("%greeting%!");
  TProjectRunner runner(project_);
  EXPECT_THAT(runner.Validate(), IsEmpty());
  EXPECT_EQ(runner.Run(), TRunResult::Success);
  EXPECT_EQ(project_.Context().GetVariable("GREETING").AsString(), "Hello World");
  auto lines = log_.Lines();
  ASSERT_EQ(lines.size(), 2u);
  // The value may be a secret: the Set Variable line names the variable only.
  EXPECT_THAT(lines[0].Text, AllOf(HasSubstr("Greeting"), Not(HasSubstr("Hello"))));
  EXPECT_EQ(lines[1].Action, "Log Message");
  EXPECT_EQ(lines[1].Text, "Hello World!");
  EXPECT_EQ(lines[1].Tag, stInformation);

  TSetVariableAction unnamed;
  TValidationErrors errors;
  EXPECT_FALSE(unnamed.Validate(errors));
  ASSERT_EQ(errors.Errors().size(), 1u);
  EXPECT_EQ(errors.Errors()[0].Property, "VariableName");
}

// ---------------------------------------------------------------- runner

TEST_F(ActionTest, ValidationCollectsEveryFailureOfEnabledActions) {
  Probe("ok");
  auto& bad = Probe("bad");
  bad.ValidateErrors = {{"Host", "A host must be specified."}, {"Port", "Bad port."}};
  auto& off = Probe("off");
  off.ValidateErrors = {{"Host", "not reported: disabled"}};
  off.SetEnabled(false);
  auto& flow = Probe("flow");
  flow.FlowNext = k_run_child_actions;
  flow.Add(std::make_unique<TProbeAction>("silent")).ValidateResult = false;
  flow.Add(std::make_unique<TProbeAction>("throws")).ValidateThrows = "validator crashed";

  auto failures = TProjectRunner(project_).Validate();
  std::vector<std::string> got;
  for (const auto& f : failures) got.push_back(f.Action + " | " + f.Property + " | " + f.Message);
  EXPECT_THAT(
      got, ElementsAre("Probe [ bad ] | Host | A host must be specified.", "Probe [ bad ] | Port | Bad port.",
                       "Probe [ silent ] |  | validation failed", "Probe [ throws ] |  | validator crashed"));
}

TEST_F(ActionTest, FailingActionEndsTheRunAsFailed) {
  struct TCase {
    const char* Name;
    bool Result;
    const char* Throw;
  } cases[] = {{"returns false", false, ""}, {"throws", true, "disk on fire"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TProject project;
    TLogCapture log(project.Context());
    project.AddAction(std::make_unique<TProbeAction>("first"));
    auto bad = std::make_unique<TProbeAction>("bad");
    bad->Result = c.Result;
    bad->ThrowText = c.Throw;
    project.AddAction(std::move(bad));
    project.AddAction(std::make_unique<TProbeAction>("never"));
    EXPECT_EQ(TProjectRunner(project).Run(), TRunResult::Failed);
    std::vector<std::string> expected{"ran first", "ran bad"};
    if (*c.Throw) expected.push_back(c.Throw);
    EXPECT_EQ(log.Texts(), expected);
  }
}

TEST_F(ActionTest, FlowControlChildrenRunOnlyWhenNextActionIsFour) {
  struct TCase {
    int Next;
    bool ChildrenRun;
  } cases[] = {{k_run_child_actions, true}, {0, false}, {3, false}, {5, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Next);
    TProject project;
    TLogCapture log(project.Context());
    auto flow = std::make_unique<TProbeAction>("flow");
    flow->FlowNext = c.Next;
    flow->Add(std::make_unique<TProbeAction>("child1"));
    flow->Add(std::make_unique<TProbeAction>("child2"));
    project.AddAction(std::move(flow));
    project.AddAction(std::make_unique<TProbeAction>("after"));
    EXPECT_EQ(TProjectRunner(project).Run(), TRunResult::Success);
    std::vector<std::string> expected =
        c.ChildrenRun ? std::vector<std::string>{"ran flow", "ran child1", "ran child2", "ran after"}
                      : std::vector<std::string>{"ran flow", "ran after"};
    EXPECT_EQ(log.Texts(), expected);
  }
}

TEST_F(ActionTest, FailingChildEndsTheRunAndDisabledActionsAreSkipped) {
  Probe("off").SetEnabled(false);
  auto& flow = Probe("flow");
  flow.FlowNext = k_run_child_actions;
  flow.Add(std::make_unique<TProbeAction>("child")).Result = false;
  Probe("never");
  EXPECT_EQ(TProjectRunner(project_).Run(), TRunResult::Failed);
  EXPECT_THAT(log_.Texts(), ElementsAre("ran flow", "ran child"));
}

TEST_F(ActionTest, RequestStopDuringASleepingActionEndsTheRunAsStopped) {
  auto registered = std::make_shared<TTestObject>("Session", "FTPObject");
  project_.Context().Objects().AddObject(registered);
  auto& sleeper = Probe("sleeper");
  sleeper.SleepMs = 600000;
  Probe("never");
  TProjectRunner runner(project_);
  std::promise<void> started;
  runner.OnActionStart = [&](const TMxAction& a) {
    if (&a == &sleeper) started.set_value();
  };
  std::thread stopper([&] {
    started.get_future().wait();
    runner.RequestStop();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(runner.Run(), TRunResult::Stopped);
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, k_hang_guard);
  EXPECT_EQ(sleeper.StopSignals, 1);
  EXPECT_EQ(sleeper.Terminations, 1);
  EXPECT_THAT(log_.Texts(), ElementsAre("ran sleeper"));
  EXPECT_EQ(registered->Resets, 1);  // the end of a run resets shared objects, stopped or not

  // The next run starts afresh.
  runner.OnActionStart = nullptr;
  sleeper.SleepMs = 0;
  EXPECT_EQ(runner.Run(), TRunResult::Success);
}

// ---------------------------------------------------------------- script events

// Runs its OnItem event once per item; the script may set Skip and leave a Result.
class TScriptedAction final : public TMxAction {
  MX_CLASS(TScriptedAction, TMxAction)
  MX_PROPERTIES(TScriptedAction, TMxAction)
 public:
  TScriptedAction() {
    TScript& s = AddScript("OnItem");
    s.DeclareParam("Item");
    s.DeclareParam("Skip");
  }
  static void DefineProperties(TPropTable& t) {
    TMxAction::DefineProperties(t);
    TPropBuilder<TScriptedAction>(t).List("Items", &TScriptedAction::GetItems);
  }
  std::string GetActionName() const override { return "Scripted"; }
  rtl::TStringList& GetItems() { return items_; }

  bool Execute() override {
    TScript* s = GetScriptByName("OnItem");
    for (const std::string& item : items_) {
      s->SetParam("Item", rtl::Variant(item));
      s->SetParam("Skip", rtl::Variant(false));
      rtl::Variant result;
      ExecuteScript("OnItem", result);
      if (!result.IsEmpty()) SendMessage("result " + result.AsString(), stInformation);
      if (!s->GetParam("Skip").AsBoolean()) SendMessage("kept " + item, stSuccess);
    }
    return true;
  }

 private:
  rtl::TStringList items_;
};

TEST_F(ActionTest, ScriptEventSeesParametersAndPassesThemBack) {
  host_.Actions().AddBuiltInAction("Test", ClassOf<TScriptedAction>(), "TEST");
  const char* xml = R"(<project>
  <variables><variable name="Prefix">item-</variable></variables>
  <actions>
    <action class="TScriptedAction">
      <property name="Items"><item>a</item><item>b</item><item>c</item></property>
      <script name="OnItem" language="lua">
        if Item == "b" then Skip = true end
        SetVariable("Last", GetVariable("Prefix") .. Item)
        Log("saw " .. Item, 2)
        if Item == "c" then Result = 42 end
      </script>
    </action>
  </actions>
</project>)";
  auto project = TProject::LoadFromString(xml, "s.xml", host_);
  TLogCapture log(project->Context());
  EXPECT_EQ(TProjectRunner(*project).Run(), TRunResult::Success);
  EXPECT_THAT(log.Texts(), ElementsAre("saw a", "kept a", "saw b", "saw c", "result 42", "kept c"));
  EXPECT_THAT(log.TextsWithTag(stWarning), ElementsAre("saw a", "saw b", "saw c"));
  EXPECT_EQ(project->Context().GetVariable("last").AsString(), "item-c");
}

TEST_F(ActionTest, ScriptErrorFailsTheActionNamingTheEvent) {
  host_.Actions().AddBuiltInAction("Test", ClassOf<TScriptedAction>(), "TEST");
  const char* xml = R"(<project><actions>
    <action class="TScriptedAction">
      <property name="Items"><item>a</item></property>
      <script name="OnItem">if then</script>
    </action>
  </actions></project>)";
  auto project = TProject::LoadFromString(xml, "s.xml", host_);
  TLogCapture log(project->Context());
  EXPECT_EQ(TProjectRunner(*project).Run(), TRunResult::Failed);
  EXPECT_THAT(log.TextsWithTag(stError), ElementsAre(HasSubstr("OnItem")));
}

}  // namespace
}  // namespace host
