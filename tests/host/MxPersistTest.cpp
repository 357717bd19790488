#include "host/MxPersist.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "host/MxAction.h"
#include "host/MxProject.h"
#include "host/MxScripting.h"
#include "host/MxServices.h"

namespace host {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

enum class TTestMode { tmFast, tmSafe, tmSlow };

// A persisted child object; children of its own class nest.
class TPersistChild final : public TNbXMLObject {
  MX_CLASS(TPersistChild, TNbXMLObject)
  MX_PROPERTIES(TPersistChild, TNbXMLObject)
 public:
  static void DefineProperties(TPropTable& t) {
    TPropBuilder<TPersistChild>(t)
        .String("Label", &TPersistChild::GetLabel, &TPersistChild::SetLabel)
        .Integer("Weight", &TPersistChild::GetWeight, &TPersistChild::SetWeight, 1);
  }
  bool AddChildObject(std::unique_ptr<TNbXMLObject> child) override {
    auto* c = dynamic_cast<TPersistChild*>(child.get());
    if (!c) return false;
    child.release();
    Children.emplace_back(c);
    return true;
  }
  void GetChildren(const std::function<void(TNbXMLObject&)>& fn) override {
    for (auto& c : Children) fn(*c);
  }
  void Loaded() override { ++LoadedCalls; }

  std::string GetLabel() const { return label_; }
  void SetLabel(const std::string& v) { label_ = v; }
  int GetWeight() const { return weight_; }
  void SetWeight(int v) { weight_ = v; }

  std::vector<std::unique_ptr<TPersistChild>> Children;
  int LoadedCalls = 0;

 private:
  std::string label_;
  int weight_ = 1;
};

// One published property of every kind, persisted children, a script event and child actions.
class TPersistAction final : public TMxAction {
  MX_CLASS(TPersistAction, TMxAction)
  MX_PROPERTIES(TPersistAction, TMxAction)
 public:
  TPersistAction() {
    TScript& s = AddScript("OnItem");
    s.DeclareParam("Item");
    s.DeclareParam("Skip");
  }
  static void DefineProperties(TPropTable& t) {
    TMxAction::DefineProperties(t);
    TPropBuilder<TPersistAction>(t)
        .String("Text", &TPersistAction::GetText, &TPersistAction::SetText)
        .Integer("Count", &TPersistAction::GetCount, &TPersistAction::SetCount, 3)
        .Boolean("Active", &TPersistAction::GetActive, &TPersistAction::SetActive, true)
        .Double("Ratio", &TPersistAction::GetRatio, &TPersistAction::SetRatio, 0.5)
        .Enum("Mode", "TTestMode", {"tmFast", "tmSafe", "tmSlow"}, &TPersistAction::GetMode,
              &TPersistAction::SetMode)
        .List("Lines", &TPersistAction::GetLines)
        .Transient("Password", &TPersistAction::GetPassword, &TPersistAction::SetPassword)
        .ReadOnly("Summary", "string", &TPersistAction::GetSummary);
  }
  bool Execute() override { return true; }
  std::string GetActionName() const override { return "Persist Probe"; }
  bool GetIsFlowControlAction() const override { return true; }
  bool AddChildObject(std::unique_ptr<TNbXMLObject> child) override {
    auto* c = dynamic_cast<TPersistChild*>(child.get());
    if (!c) return false;
    child.release();
    Children.emplace_back(c);
    return true;
  }
  void GetChildren(const std::function<void(TNbXMLObject&)>& fn) override {
    for (auto& c : Children) fn(*c);
  }

  std::string GetText() const { return text_; }
  void SetText(const std::string& v) { text_ = v; }
  int GetCount() const { return count_; }
  void SetCount(int v) { count_ = v; }
  bool GetActive() const { return active_; }
  void SetActive(bool v) { active_ = v; }
  double GetRatio() const { return ratio_; }
  void SetRatio(double v) { ratio_ = v; }
  TTestMode GetMode() const { return mode_; }
  void SetMode(TTestMode v) { mode_ = v; }
  rtl::TStringList& GetLines() { return lines_; }
  std::string GetPassword() const { return password_; }
  void SetPassword(const std::string& v) { password_ = v; }
  std::string GetSummary() const { return "summary-of-" + text_; }

  std::vector<std::unique_ptr<TPersistChild>> Children;

 private:
  std::string text_;
  int count_ = 3;
  bool active_ = true;
  double ratio_ = 0.5;
  TTestMode mode_ = TTestMode::tmFast;
  rtl::TStringList lines_;
  std::string password_;
};

class PersistTest : public ::testing::Test {
 protected:
  PersistTest() {
    host_.Actions().AddBuiltInAction("Test", ClassOf<TPersistAction>(), "TEST");
    RegisterXMLClass(ClassOf<TPersistChild>());
  }

  std::unique_ptr<TProject> Load(const std::string& xml) {
    return TProject::LoadFromString(xml, "p.xml", host_);
  }
  static TPersistAction& At(TProject& p, size_t i) { return dynamic_cast<TPersistAction&>(*p.Actions.at(i)); }

  // A project with every kind of content, values chosen to trip up escaping and whitespace.
  static std::unique_ptr<TProject> RichProject() {
    auto p = std::make_unique<TProject>();
    p->Name = "nightly & <more>";
    p->Variables = {{"SITE", "ftp.example.org"}, {"BLANK", ""}, {"SPACED", "  two  words  "}};
    auto a = std::make_unique<TPersistAction>();
    a->SetText("  <a & \"b\">\r\nsecond line\t\x01  ");
    a->SetCount(-42);
    a->SetActive(false);
    a->SetRatio(0.1);
    a->SetMode(TTestMode::tmSlow);
    a->GetLines().Add("/tmp/a.txt");
    a->GetLines().Add("");
    a->GetLines().Add("  %REPORT%  ");
    a->GetLines().Add("   ");
    a->SetPassword("hunter2");
    a->GetScriptByName("OnItem")->Text = "if Item < \"b\" and Item ~= '' then\n  Skip = true\nend";
    auto outer = std::make_unique<TPersistChild>();
    outer->SetLabel("outer");
    auto inner = std::make_unique<TPersistChild>();
    inner->SetLabel("inner & co");
    inner->SetWeight(7);
    outer->Children.push_back(std::move(inner));
    a->Children.push_back(std::move(outer));
    auto child = std::make_unique<TPersistAction>();
    child->SetText("nested");
    child->SetEnabled(false);
    a->ChildActions().push_back(std::move(child));
    p->AddAction(std::move(a));
    p->AddAction(std::make_unique<TPersistAction>());  // all defaults, no children
    return p;
  }

  THost host_{false};
};

TEST_F(PersistTest, SaveLoadSaveGivesIdenticalTextAndValues) {
  const std::string first = RichProject()->SaveToString();
  auto loaded = Load(first);
  EXPECT_EQ(loaded->SaveToString(), first);

  EXPECT_EQ(loaded->Name, "nightly & <more>");
  EXPECT_THAT(loaded->Variables,
              ElementsAre(std::pair<std::string, std::string>{"SITE", "ftp.example.org"},
                          std::pair<std::string, std::string>{"BLANK", ""},
                          std::pair<std::string, std::string>{"SPACED", "  two  words  "}));
  ASSERT_EQ(loaded->Actions.size(), 2u);
  TPersistAction& a = At(*loaded, 0);
  EXPECT_EQ(a.GetText(), "  <a & \"b\">\r\nsecond line\t\x01  ");
  EXPECT_EQ(a.GetCount(), -42);
  EXPECT_FALSE(a.GetActive());
  EXPECT_EQ(a.GetRatio(), 0.1);
  EXPECT_EQ(a.GetMode(), TTestMode::tmSlow);
  EXPECT_THAT(a.GetLines().Items(), ElementsAre("/tmp/a.txt", "", "  %REPORT%  ", "   "));
  EXPECT_EQ(a.GetPassword(), "");
  EXPECT_EQ(a.GetScriptByName("OnItem")->Text, "if Item < \"b\" and Item ~= '' then\n  Skip = true\nend");
  ASSERT_EQ(a.Children.size(), 1u);
  EXPECT_EQ(a.Children[0]->GetLabel(), "outer");
  EXPECT_EQ(a.Children[0]->LoadedCalls, 1);
  ASSERT_EQ(a.Children[0]->Children.size(), 1u);
  EXPECT_EQ(a.Children[0]->Children[0]->GetLabel(), "inner & co");
  EXPECT_EQ(a.Children[0]->Children[0]->GetWeight(), 7);
  ASSERT_EQ(a.ChildActions().size(), 1u);
  EXPECT_FALSE(a.ChildActions()[0]->GetEnabled());
  EXPECT_EQ(dynamic_cast<TPersistAction&>(*a.ChildActions()[0]).GetText(), "nested");
  // Loaded actions are bound to the project that loaded them.
  EXPECT_EQ(&a.Context(), &loaded->Context());
  EXPECT_EQ(&a.ChildActions()[0]->Context(), &loaded->Context());
  TPersistAction& defaults = At(*loaded, 1);
  EXPECT_EQ(defaults.GetCount(), 3);
  EXPECT_TRUE(defaults.GetLines().Empty());
}

TEST_F(PersistTest, FileRoundTripMatchesTheStringForm) {
  fs::path dir = fs::temp_directory_path() / ("quillon-persist-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string path = (dir / "p.xml").string();
  auto project = RichProject();
  project->SaveToFile(path);
  auto loaded = TProject::LoadFromFile(path, host_);
  EXPECT_EQ(loaded->SaveToString(), project->SaveToString());
  // The save went through a temporary file that is gone now.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  fs::remove_all(dir);
}

TEST_F(PersistTest, PropertiesThatAreNotStoredAreNeverWritten) {
  const std::string xml = RichProject()->SaveToString();
  EXPECT_THAT(xml, Not(HasSubstr("hunter2")));
  EXPECT_THAT(xml, Not(HasSubstr("\"Password\"")));
  EXPECT_THAT(xml, Not(HasSubstr("Summary")));
  EXPECT_THAT(xml, HasSubstr("<property name=\"Mode\">tmSlow</property>"));
  EXPECT_THAT(xml, HasSubstr("<property name=\"Active\">false</property>"));
}

// The forms the loader takes for each kind, and the value each gives.
TEST_F(PersistTest, LoaderAcceptsNamesOrdinalsAndLooseForms) {
  struct TCase {
    const char* Property;
    const char* Text;
    const char* Expected;  // the property's text after loading
  } cases[] = {
      {"Mode", "tmSafe", "tmSafe"}, {"Mode", "TMSLOW", "tmSlow"}, {"Mode", "2", "tmSlow"},
      {"Mode", " 1 ", "tmSafe"},    {"Active", "TRUE", "true"},   {"Active", "0", "false"},
      {"Count", "+17", "17"},       {"Count", " -5 ", "-5"},      {"Ratio", "2.5e3", "2500"},
      {"Ratio", "100", "100"},      {"Ratio", "-0.25", "-0.25"},  {"Text", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Property) + "=" + c.Text);
    auto p = Load(std::string("<project><actions><action class=\"TPersistAction\"><property name=\"") +
                  c.Property + "\">" + c.Text + "</property></action></actions></project>");
    EXPECT_EQ(p->Actions.at(0)->GetPropertyText(c.Property), c.Expected);
  }
}

TEST_F(PersistTest, StringListWithoutItemsTakesTheTextLines) {
  auto p = Load(
      "<project><actions><action class=\"TPersistAction\">"
      "<property name=\"lines\">one\ntwo</property></action></actions></project>");
  EXPECT_THAT(At(*p, 0).GetLines().Items(), ElementsAre("one", "two"));
}

// Every load error names the source, the line of the element at fault and the name involved.
TEST_F(PersistTest, LoadErrorsNameFileLineAndName) {
  // Lines 1-6 hold content that must not disturb the line count: entities, a multi-line script.
  const std::string head =
      "<?xml version=\"1.0\"?>\n"
      "<project name=\"a &amp; b\">\n"
      "  <variables><variable name=\"V\">x &lt; y</variable></variables>\n"
      "  <actions>\n"
      "    <action class=\"TPersistAction\"><script name=\"OnItem\">a = 1\n"
      "b = 2</script></action>\n";
  const std::string tail = "  </actions>\n</project>\n";
  auto body = [&](const std::string& lines) { return head + lines + tail; };
  struct TCase {
    const char* Name;
    std::string Xml;
    int Line;
    std::vector<std::string> Needles;
  } cases[] = {
      {"not XML", "just some text", 1, {"not a valid project file"}},
      {"broken XML", head + "    <action class=\"TPersistAction\">\n  </actions>\n</project>\n", 8, {}},
      {"wrong root", "<?xml version=\"1.0\"?>\n\n<settings><actions/></settings>\n", 3, {"<project>"}},
      {"unknown action class", body("    <action class=\"TNoSuchAction\"/>\n"), 7, {"TNoSuchAction"}},
      {"unknown property",
       body("    <action class=\"TPersistAction\">\n      <property name=\"Colour\">red</property>\n"
            "    </action>\n"),
       8,
       {"Colour"}},
      {"integer not a number",
       body("    <action class=\"TPersistAction\">\n      <property name=\"Count\">abc</property>\n"
            "    </action>\n"),
       8,
       {"Count", "abc"}},
      {"integer out of range",
       body("    <action class=\"TPersistAction\">\n      <property name=\"Count\">4294967297</property>\n"
            "    </action>\n"),
       8,
       {"Count", "4294967297"}},
      {"Boolean not true or false",
       body("    <action class=\"TPersistAction\">\n      <property name=\"Active\">maybe</property>\n"
            "    </action>\n"),
       8,
       {"Active", "maybe"}},
      {"unknown enumeration name",
       body("    <action class=\"TPersistAction\">\n      <property name=\"Mode\">tmWarp</property>\n"
            "    </action>\n"),
       8,
       {"Mode", "tmWarp"}},
      {"enumeration ordinal out of range",
       body("    <action class=\"TPersistAction\">\n      <property name=\"Mode\">3</property>\n"
            "    </action>\n"),
       8,
       {"Mode", "3"}},
      {"unknown child class",
       body(
           "    <action class=\"TPersistAction\">\n\n      <child class=\"TNoSuchChild\"/>\n    </action>\n"),
       9,
       {"TNoSuchChild"}},
      {"unknown property of a child object",
       body("    <action class=\"TPersistAction\">\n      <child class=\"TPersistChild\">\n"
            "        <property name=\"Colour\">red</property>\n      </child>\n    </action>\n"),
       9,
       {"Colour", "TPersistChild"}},
      {"unknown script event",
       body("    <action class=\"TPersistAction\">\n      <script name=\"OnNothing\">x = 1</script>\n"
            "    </action>\n"),
       8,
       {"OnNothing"}},
      {"fault inside a child action",
       body("    <action class=\"TPersistAction\">\n      <actions>\n        <action "
            "class=\"TPersistAction\">\n"
            "          <property name=\"Nope\"/>\n        </action>\n      </actions>\n    </action>\n"),
       10,
       {"Nope"}},
      {"Windows line ends",
       "<project>\r\n<actions>\r\n<action class=\"TPersistAction\">\r\n"
       "<property name=\"Text\">a\r\nb</property>\r\n<property name=\"Colour\"/>\r\n"
       "</action>\r\n</actions>\r\n</project>\r\n",
       6,
       {"Colour"}},
      {"read-only property",
       body("    <action class=\"TPersistAction\">\n      <property name=\"Summary\">x</property>\n"
            "    </action>\n"),
       8,
       {"Summary"}},
      {"clear password (never stored, so never loaded)",
       body("    <action class=\"TPersistAction\">\n      <property name=\"Password\">hunter2</property>\n"
            "    </action>\n"),
       8,
       {"Password", "never stored"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    try {
      Load(c.Xml);
      ADD_FAILURE() << "loaded without an error";
    } catch (const EProjectError& e) {
      EXPECT_THAT(e.what(), StartsWith("p.xml:" + std::to_string(c.Line) + ":"));
      for (const auto& n : c.Needles) EXPECT_THAT(e.what(), HasSubstr(n));
    }
  }
}

TEST_F(PersistTest, MissingFileIsAProjectErrorNamingThePath) {
  try {
    TProject::LoadFromFile("/nonexistent/dir/p.xml", host_);
    FAIL() << "loaded a missing file";
  } catch (const EProjectError& e) {
    EXPECT_THAT(e.what(), HasSubstr("/nonexistent/dir/p.xml"));
  }
}

TEST(PropertyTextTest, SetAndGetByNameCheckTheType) {
  TPersistAction a;
  a.SetPropertyText("count", "12");
  EXPECT_EQ(a.GetCount(), 12);
  a.SetPropertyText("Lines", "x\ny");
  EXPECT_EQ(a.GetPropertyText("LINES"), "x\ny\n");
  EXPECT_EQ(a.GetPropertyText("Summary"), "summary-of-");
  EXPECT_THROW(a.SetPropertyText("Count", "twelve"), EPropertyError);
  EXPECT_THROW(a.SetPropertyText("Summary", "x"), EPropertyError);
  EXPECT_THROW(a.SetPropertyText("Colour", "red"), EPropertyError);
  EXPECT_THROW(a.GetPropertyText("Colour"), EPropertyError);
}

}  // namespace
}  // namespace host
