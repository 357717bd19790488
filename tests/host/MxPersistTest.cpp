#include "host/MxPersist.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/MxAction.h"
#include "host/MxProject.h"
#include "host/MxScripting.h"
#include "host/MxServices.h"

namespace host {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
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

// Every text form the converters take, and the texts they refuse, for projects, the option
// store and typed input alike.
TEST(PropertyTextTest, ConvertersTakeTheWrittenFormsAndRefuseTheRest) {
  const struct {
    const char* Text;
    int Loose;  // -1: refused
    int Words;  // the option store's true/false only
  } bools[] = {{"true", 1, 1}, {" FALSE ", 0, 0}, {"Yes", 1, -1}, {"no", 0, -1}, {"1", 1, -1},
               {"0", 0, -1},   {"maybe", -1, -1}, {"", -1, -1},   {"2", -1, -1}, {"truex", -1, -1}};
  for (const auto& c : bools) {
    SCOPED_TRACE(std::string("Boolean \"") + c.Text + "\"");
    bool v = false;
    EXPECT_EQ(TryTextToBool(c.Text, v) ? int(v) : -1, c.Loose);
    EXPECT_EQ(TryTextToBool(c.Text, v, true) ? int(v) : -1, c.Words);
    if (c.Loose < 0) {
      EXPECT_THROW(TextToBool(c.Text, "Flag"), EPropertyError);
    }
  }

  const struct {
    const char* Text;
    bool Ok;
    std::int64_t Value;
  } integers[] = {
      {"42", true, 42},
      {" -7 ", true, -7},
      {"+5", true, 5},
      {"+-5", false, 0},
      {"-+5", false, 0},
      {"0x10", false, 0},
      {"4x", false, 0},
      {"", false, 0},
      {"1.0", false, 0},
      {"9223372036854775807", true, INT64_MAX},
      {"-9223372036854775808", true, INT64_MIN},
      {"9223372036854775808", false, 0},
  };
  for (const auto& c : integers) {
    SCOPED_TRACE(std::string("integer \"") + c.Text + "\"");
    std::int64_t v = 0;
    EXPECT_EQ(TryTextToInteger(c.Text, v), c.Ok);
    if (c.Ok) {
      EXPECT_EQ(v, c.Value);
      EXPECT_EQ(TextToInteger(c.Text, "N"), c.Value);
    } else {
      EXPECT_THROW(TextToInteger(c.Text, "N"), EPropertyError);
    }
  }
  EXPECT_EQ(TextToInteger("65535", "Port", 0, 65535), 65535);
  try {
    TextToInteger("65536", "Port", 0, 65535);
    ADD_FAILURE() << "out of range taken";
  } catch (const EPropertyError& e) {
    EXPECT_THAT(e.what(), AllOf(HasSubstr("Port"), HasSubstr("65536"), HasSubstr("from 0 to 65535")));
  }

  const std::vector<std::string> names = {"tmFast", "tmSafe", "tmSlow"};
  const struct {
    const char* Text;
    int Value;  // -1: refused
  } enums[] = {{"tmSafe", 1}, {"TMSLOW", 2}, {" tmFast ", 0}, {"2", 2}, {" 1 ", 1},
               {"3", -1},     {"-1", -1},    {"tmWarp", -1},  {"", -1}, {"+1", 1}};
  for (const auto& c : enums) {
    SCOPED_TRACE(std::string("enumeration \"") + c.Text + "\"");
    if (c.Value >= 0) {
      EXPECT_EQ(TextToEnum(c.Text, names, "Mode"), c.Value);
    } else {
      EXPECT_THROW(TextToEnum(c.Text, names, "Mode"), EPropertyError);
    }
  }
  // Without names any ordinal from 0 goes; a value without a name is written as its number.
  EXPECT_EQ(TextToEnum("7", {}, "Mode"), 7);
  EXPECT_THROW(TextToEnum("tmFast", {}, "Mode"), EPropertyError);
  EXPECT_EQ(EnumToText(1, names), "tmSafe");
  EXPECT_EQ(EnumToText(5, names), "5");

  EXPECT_EQ(TextToDouble(" 2.5e3 ", "Ratio"), 2500);
  EXPECT_EQ(DoubleToText(2500), "2500");
  EXPECT_THROW(TextToDouble("1,5", "Ratio"), EPropertyError);
  EXPECT_THROW(TextToDouble("", "Ratio"), EPropertyError);
}

// A part shown nested in its owner's property views: its hidden names are the owner's too.
class TDescribedPart final : public TNbXMLObject {
  MX_CLASS(TDescribedPart, TNbXMLObject)
  MX_PROPERTIES(TDescribedPart, TNbXMLObject)
 public:
  static void DefineProperties(TPropTable& t) {
    TPropBuilder<TDescribedPart>(t)
        .String("Kind", &TDescribedPart::GetKind, &TDescribedPart::SetKind)
        .Hidden()
        .String("Note", &TDescribedPart::GetKind, &TDescribedPart::SetKind);
  }
  std::string GetKind() const { return kind_; }
  void SetKind(const std::string& v) { kind_ = v; }

 private:
  std::string kind_;
};

// Every fact of the description on one action: hidden, help, layout, read-only, named values.
class TDescribedAction final : public TMxAction {
  MX_CLASS(TDescribedAction, TMxAction)
  MX_PROPERTIES(TDescribedAction, TMxAction)
 public:
  static void DefineProperties(TPropTable& t) {
    TMxAction::DefineProperties(t);
    using A = TDescribedAction;
    TPropBuilder<A>(t)
        .Integer("Speed", &A::GetSpeed, &A::SetSpeed, 0)
        .ValueNames({"sdSlow", "sdFast"})
        .String("Secret", &A::GetText, &A::SetText)
        .Hidden()
        .String("Host", &A::GetText, &A::SetText)
        .Help("Name or address of the server")
        .ReadOnly("State", "string", [](const A&) { return std::string("idle"); })
        .Object("First", "TDescribedPart", [](A& a) { return &a.first_; })
        .Object("Second", "TDescribedPart", [](A& a) { return &a.second_; })
        .Layout({"Speed=Pace", "[Server]", "Host=Host", "First", "State=Current state"});
  }
  bool Execute() override { return true; }
  std::string GetActionName() const override { return "Described"; }
  int GetSpeed() const { return speed_; }
  // Clamped, as the model's own setters clamp.
  void SetSpeed(int v) { speed_ = std::clamp(v, 0, 1); }
  std::string GetText() const { return text_; }
  void SetText(const std::string& v) { text_ = v; }

 private:
  int speed_ = 0;
  std::string text_;
  TDescribedPart first_, second_;
};

TEST(PropertyDescriptionTest, HostListsComeFromTheTable) {
  TDescribedAction a;
  rtl::TStringList hidden, alias, help, readOnly;
  a.GetHiddenProperties(hidden);
  a.GetPropertyAlias(alias);
  a.GetPropertyHelp(help);
  a.GetReadOnlyProperties(readOnly);
  // The part's hidden name once, although two published objects are of its class.
  EXPECT_THAT(hidden.Items(), ElementsAre("Secret", "Kind"));
  EXPECT_THAT(alias.Items(),
              ElementsAre("Speed=Pace", "[Server]", "Host=Host", "First", "State=Current state"));
  EXPECT_THAT(help.Items(), ElementsAre("Host=Name or address of the server"));
  EXPECT_THAT(readOnly.Items(), ElementsAre("State"));

  EXPECT_EQ(a.PropertyDisplayName("speed"), "Pace");
  EXPECT_EQ(a.PropertyDisplayName("Host"), "Host");
  EXPECT_EQ(a.PropertyDisplayName("Nothing"), "Nothing");
  const TPropInfo* host = a.GetProperties().Find("Host");
  EXPECT_EQ(host->Category, "Server");
  EXPECT_EQ(a.GetProperties().Find("Speed")->Category, "");

  TPropTable t;
  TPropBuilder<TDescribedAction>(t).String("Host", &TDescribedAction::GetText, &TDescribedAction::SetText);
  EXPECT_THROW(t.SetLayout({"Hots=Host"}), std::logic_error);
}

// Named integer values: read by name or number, written as the number, clamped by the setter.
TEST_F(PersistTest, NamedIntegerValuesLoadByNameAndSaveAsNumbers) {
  host_.Actions().AddBuiltInAction("Test", ClassOf<TDescribedAction>(), "TEST");
  const struct {
    const char* Text;
    const char* Expected;  // empty: a load error naming the property
  } cases[] = {{"sdFast", "1"}, {"SDSLOW", "0"}, {"1", "1"}, {" 7 ", "1"}, {"sdWarp", ""}, {"0x1", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    const std::string xml = std::string("<project><actions><action class=\"TDescribedAction\">") +
                            "<property name=\"Speed\">" + c.Text + "</property></action></actions></project>";
    if (*c.Expected == 0) {
      try {
        Load(xml);
        ADD_FAILURE() << "loaded";
      } catch (const EProjectError& e) {
        EXPECT_THAT(e.what(), AllOf(HasSubstr("Speed"), HasSubstr("sdSlow, sdFast")));
      }
      continue;
    }
    auto p = Load(xml);
    EXPECT_EQ(p->Actions.at(0)->GetPropertyText("Speed"), c.Expected);
    EXPECT_THAT(p->SaveToString(),
                HasSubstr("<property name=\"Speed\">" + std::string(c.Expected) + "</property>"));
  }
}

}  // namespace
}  // namespace host
