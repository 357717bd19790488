// The state store of learned values: what a run learned comes back in the next run of the same
// project, for the action at the same place of the same class, unless the project changed the
// value since; the project file is never touched.
#include "host/MxStateStore.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "host/MxAction.h"
#include "host/MxProject.h"
#include "tests/support/ServerProcess.h"

namespace host {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// An action that learns a number and a flag, and has a setting that is not learned.
class TLearner : public TMxAction {
  MX_CLASS(TLearner, TMxAction)
  MX_PROPERTIES(TLearner, TMxAction)
 public:
  static void DefineProperties(TPropTable& t) {
    TMxAction::DefineProperties(t);
    TPropBuilder<TLearner>(t)
        .Integer("Skew", [](const TLearner& a) { return a.Skew; }, [](TLearner& a, int v) { a.Skew = v; }, 0)
        .Learned()
        .Boolean("Fresh", [](const TLearner& a) { return a.Fresh; }, [](TLearner& a, bool v) { a.Fresh = v; }, true)
        .Learned()
        .Integer("Setting", [](const TLearner& a) { return a.Setting; }, [](TLearner& a, int v) { a.Setting = v; }, 1);
  }
  bool Execute() override { return true; }
  std::string GetActionName() const override { return "Learner"; }
  int Skew = 0;
  bool Fresh = true;
  int Setting = 1;
};

class TOther final : public TLearner {
  MX_CLASS(TOther, TLearner)
};

class TPlain final : public TMxAction {
  MX_CLASS(TPlain, TMxAction)
  MX_PROPERTIES(TPlain, TMxAction)
 public:
  static void DefineProperties(TPropTable& t) { TMxAction::DefineProperties(t); }
  bool Execute() override { return true; }
  std::string GetActionName() const override { return "Plain"; }
};

// plain, learner, plain with a learner child: positions 1, 2, 3 and 3.1.
std::unique_ptr<TProject> MakeProject(bool otherClassAtTwo = false) {
  auto p = std::make_unique<TProject>();
  p->AddAction(std::make_unique<TPlain>());
  if (otherClassAtTwo)
    p->AddAction(std::make_unique<TOther>());
  else
    p->AddAction(std::make_unique<TLearner>());
  auto parent = std::make_unique<TPlain>();
  parent->ChildActions().push_back(std::make_unique<TLearner>());
  p->AddAction(std::move(parent));
  return p;
}
TLearner& At(TProject& p, int i) { return static_cast<TLearner&>(*p.Actions.at(static_cast<size_t>(i))); }
TLearner& Child(TProject& p) { return static_cast<TLearner&>(*p.Actions.at(2)->ChildActions().at(0)); }

class MxStateStore : public ::testing::Test {
 protected:
  testsupport::ScratchDir dir_{"state-store"};
  std::string Dir() const { return (dir_.Path() / "state").string(); }
  std::string ProjectPath() const { return (dir_.Path() / "nightly.xml").string(); }
};

TEST_F(MxStateStore, ValuesLearnedInOneRunComeBackInTheNext) {
  auto first = MakeProject();
  TStateStore store(Dir(), ProjectPath());
  EXPECT_THAT(store.Apply(*first), IsEmpty());  // nothing stored yet
  At(*first, 1).Skew = -3;
  At(*first, 1).Fresh = false;
  At(*first, 1).Setting = 7;
  Child(*first).Skew = 12;
  store.Save(*first);
  EXPECT_TRUE(fs::exists(store.FilePath()));
  EXPECT_EQ(fs::path(store.FilePath()).parent_path(), fs::path(Dir()));

  auto second = MakeProject();
  TStateStore again(Dir(), ProjectPath());
  const auto used = again.Apply(*second);
  EXPECT_EQ(At(*second, 1).Skew, -3);
  EXPECT_FALSE(At(*second, 1).Fresh);
  EXPECT_EQ(At(*second, 1).Setting, 1);  // not learned: the project's own
  EXPECT_EQ(Child(*second).Skew, 12);
  EXPECT_TRUE(Child(*second).Fresh);
  ASSERT_EQ(used.size(), 3u);
  EXPECT_THAT(used[0], AllOf(HasSubstr("Skew = -3"), HasSubstr("action 2"), HasSubstr(again.FilePath())));
  EXPECT_THAT(used[2], AllOf(HasSubstr("Skew = 12"), HasSubstr("action 3.1")));
  EXPECT_TRUE(again.Warning().empty());

  // Another project file (even of the same name elsewhere) has a store of its own.
  auto elsewhere = MakeProject();
  TStateStore other(Dir(), (dir_.Path() / "sub" / "nightly.xml").string());
  EXPECT_NE(other.FilePath(), again.FilePath());
  EXPECT_THAT(other.Apply(*elsewhere), IsEmpty());
}

TEST_F(MxStateStore, AStoredValueIsUsedOnlyWhereTheProjectStillMatches) {
  {
    auto p = MakeProject();
    TStateStore store(Dir(), ProjectPath());
    store.Apply(*p);
    At(*p, 1).Skew = 5;
    Child(*p).Skew = 6;
    store.Save(*p);
  }
  // Another class at position 2: its value stays; the child still matches.
  auto changedClass = MakeProject(true);
  TStateStore store(Dir(), ProjectPath());
  EXPECT_THAT(store.Apply(*changedClass), ElementsAre(HasSubstr("action 3.1")));
  EXPECT_EQ(At(*changedClass, 1).Skew, 0);
  EXPECT_EQ(Child(*changedClass).Skew, 6);

  // The project now says something else than when the value was stored (edited, or saved by
  // the editor with newer values): the project wins.
  auto edited = MakeProject();
  At(*edited, 1).Skew = 40;
  TStateStore store2(Dir(), ProjectPath());
  store2.Apply(*edited);
  EXPECT_EQ(At(*edited, 1).Skew, 40);
  EXPECT_EQ(Child(*edited).Skew, 6);
}

TEST_F(MxStateStore, AnUnreadableStoreIsIgnoredWithAWarning) {
  auto p = MakeProject();
  TStateStore store(Dir(), ProjectPath());
  fs::create_directories(Dir());
  std::ofstream(store.FilePath()) << "<state project=";
  EXPECT_THAT(store.Apply(*p), IsEmpty());
  EXPECT_THAT(store.Warning(), HasSubstr(store.FilePath()));
  // The next save replaces it.
  At(*p, 1).Skew = 2;
  store.Save(*p);
  auto q = MakeProject();
  TStateStore again(Dir(), ProjectPath());
  again.Apply(*q);
  EXPECT_EQ(At(*q, 1).Skew, 2);
  EXPECT_TRUE(again.Warning().empty());
}

TEST_F(MxStateStore, AProjectWhoseActionsLearnNothingLeavesNoFile) {
  TProject p;
  p.AddAction(std::make_unique<TPlain>());
  TStateStore store(Dir(), ProjectPath());
  store.Apply(p);
  store.Save(p);
  EXPECT_FALSE(fs::exists(store.FilePath()));
}

TEST_F(MxStateStore, TheStateDirectoryFollowsXdgStateHome) {
  const char* old = std::getenv("XDG_STATE_HOME");
  const std::string saved = old ? old : "";
  ::setenv("XDG_STATE_HOME", "/x/state", 1);
  EXPECT_EQ(TStateStore::DefaultDirectory(), "/x/state/quillon");
  ::setenv("XDG_STATE_HOME", "relative", 1);  // invalid by its own rules: ignored
  ::setenv("HOME", ::getenv("HOME") ? ::getenv("HOME") : "/root", 1);
  EXPECT_EQ(TStateStore::DefaultDirectory(), std::string(::getenv("HOME")) + "/.local/state/quillon");
  if (old)
    ::setenv("XDG_STATE_HOME", saved.c_str(), 1);
  else
    ::unsetenv("XDG_STATE_HOME");
}

}  // namespace
}  // namespace host
