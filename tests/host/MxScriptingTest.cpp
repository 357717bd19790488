#include "host/MxScripting.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/MxServices.h"

namespace host {
namespace {

using rtl::Variant;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// A list-like object whose script methods are registered on its base class name.
class TTestList final : public IScriptObject {
 public:
  struct TCall {
    std::string Method;
    std::vector<Variant> Args;
  };

  explicit TTestList(TCoreScriptingService& service) : service_(service) {}

  std::vector<std::string> ScriptClassNames() const override { return {"TTestList", "TTestBase"}; }

  Variant CallScriptMethod(const std::string& method, const std::vector<Variant>& args) override {
    Calls.push_back({method, args});
    if (method == "Count") return static_cast<std::int64_t>(Children.size());
    if (method == "Item") {
      auto i = args.empty() ? -1 : args[0].AsInteger();
      if (i < 0 || i >= static_cast<std::int64_t>(Children.size())) return {};
      return service_.WrapObject(Children[static_cast<std::size_t>(i)]);
    }
    if (method == "AddFromScript") {
      Children.push_back(std::make_shared<TTestList>(service_));
      return service_.WrapObject(Children.back());
    }
    if (method == "Fail") throw rtl::Exception("list is locked");
    return {};
  }

  std::vector<TCall> Calls;
  std::vector<std::shared_ptr<TTestList>> Children;

 private:
  TCoreScriptingService& service_;
};

class TFakeScriptHost final : public IScriptHost {
 public:
  Variant GetVariable(const std::string& name) override { return Vars[name]; }
  void SetVariable(const std::string& name, const Variant& value) override { Vars[name] = value; }
  void Log(const std::string& text, int statusTag) override {
    Lines.push_back(std::to_string(statusTag) + ":" + text);
  }

  std::map<std::string, Variant> Vars;
  std::vector<std::string> Lines;
};

class ScriptingTest : public ::testing::Test {
 protected:
  ScriptingTest() {
    service.RegisterMethod("TTestBase", "Count");
    service.RegisterMethod("TTestBase", "Item");
    service.RegisterMethod("TTestBase", "Fail");
    service.RegisterMethodAlias("TTestBase", "AddFromScript", "Add");
    list->Children.push_back(std::make_shared<TTestList>(service));
  }

  // Runs `text` as the script "OnSend" with the list as parameter "List".
  Variant Run(const std::string& text, IScriptHost* scriptHost = nullptr,
              std::stop_token stop = {}) {
    TScript& s = scripts.AddScript("OnSend");
    s.Text = text;
    s.SetParam("List", service.WrapObject(list));
    Variant result;
    EXPECT_TRUE(scripts.ExecuteScript("OnSend", result, service, scriptHost, stop));
    return result;
  }

  TCoreScriptingService service;
  TScriptList scripts;
  TFakeScriptHost fakeHost;
  std::shared_ptr<TTestList> list = std::make_shared<TTestList>(service);
};

TEST_F(ScriptingTest, ParametersGoInAndAreReadBackWithTheirTypes) {
  TScript& s = scripts.AddScript("OnSend");
  for (const char* name : {"Count", "Ratio", "Name", "Skip", "Unset", "Half"}) s.DeclareParam(name);
  s.SetParam("Count", 41);
  s.SetParam("Ratio", 1.25);
  s.SetParam("Name", "Ann");
  s.SetParam("Skip", false);
  s.Text = R"(
    assert(math.type(Count) == "integer" and type(Skip) == "boolean" and Unset == nil)
    Count = Count + 1
    Ratio = Ratio * 2
    Name = Name .. " <ann@x.org>"
    Skip = not Skip
    Half = 10 / 2
    Undeclared = 1
    Result = "done"
  )";
  Variant result;
  ASSERT_TRUE(scripts.ExecuteScript("onsend", result, service, nullptr));

  EXPECT_THAT(s.ParamNames(), ElementsAre("Count", "Ratio", "Name", "Skip", "Unset", "Half"));
  EXPECT_EQ(s.GetParam("count"), Variant(42));
  EXPECT_EQ(s.GetParam("Ratio"), Variant(2.5));
  EXPECT_EQ(s.GetParam("Name"), Variant("Ann <ann@x.org>"));
  EXPECT_EQ(s.GetParam("Skip"), Variant(true));
  EXPECT_TRUE(s.GetParam("Unset").IsEmpty());
  EXPECT_EQ(s.GetParam("Half"), Variant(5));  // an integral float comes back as an integer
  EXPECT_TRUE(s.GetParam("Undeclared").IsEmpty());
  EXPECT_EQ(result, Variant("done"));

  s.Text = "x = 1";
  ASSERT_TRUE(scripts.ExecuteScript("OnSend", result, service, nullptr));
  EXPECT_TRUE(result.IsEmpty()) << "Result is not carried over from an earlier run";
}

TEST_F(ScriptingTest, UndeclaredOrBlankScriptsDoNotRun) {
  Variant result = "untouched";
  EXPECT_FALSE(scripts.ExecuteScript("OnSend", result, service, nullptr));
  scripts.AddScript("OnSend").Text = " \n\t ";
  EXPECT_FALSE(scripts.ExecuteScript("OnSend", result, service, nullptr));
  EXPECT_EQ(result, Variant("untouched"));
  EXPECT_EQ(&scripts.AddScript("ONSEND"), scripts.GetScriptByName("OnSend"));
  EXPECT_EQ(scripts.Scripts().size(), 1u);
  EXPECT_EQ(scripts.GetScriptByName("OnReceive"), nullptr);
}

TEST_F(ScriptingTest, ConstantsAndEnumerationsAreGlobals) {
  service.RegisterConstant("emIndividual", 1);
  service.RegisterConstant("Greeting", "hi");
  service.RegisterConstant("Greeting", "hello");
  service.RegisterEnumeration("TFTPMirrorOperation", {"moLocalToRemote", "moRemoteToLocal"});
  EXPECT_EQ(service.Constants().size(), 2u);

  Variant result = Run(R"(
    local op = TFTPMirrorOperation
    Result = table.concat({emIndividual, Greeting, moLocalToRemote, moRemoteToLocal,
                           op.moRemoteToLocal, op[0]}, ",")
  )");
  EXPECT_EQ(result, Variant("1,hello,0,1,1,moLocalToRemote"));
}

TEST_F(ScriptingTest, MethodsAndAliasesDispatchThroughTheBaseClass) {
  Variant result = Run(R"(
    local a = List:Count()
    local b = List.count()
    local added = List:add({"Ann", "ann@x.org"})
    List.Add("Bob", "bob@x.org", false)
    local first = List:Item(0)
    Result = table.concat({a, b, List:Count(), tostring(List), tostring(added == List:Item(1)),
                           tostring(first ~= added), tostring(List:Item(99))}, ",")
  )");
  EXPECT_EQ(result, Variant("1,1,3,TTestList,true,true,nil"));

  ASSERT_EQ(list->Calls.size(), 8u);
  EXPECT_TRUE(list->Calls[0].Args.empty()) << "obj:Method() drops the self argument";
  EXPECT_EQ(list->Calls[1].Method, "Count") << "the registered spelling is passed on";
  EXPECT_TRUE(list->Calls[1].Args.empty()) << "obj.Method() passes no self";
  EXPECT_EQ(list->Calls[2].Method, "AddFromScript");
  EXPECT_THAT(list->Calls[2].Args, ElementsAre(Variant("Ann"), Variant("ann@x.org")));
  EXPECT_THAT(list->Calls[3].Args, ElementsAre(Variant("Bob"), Variant("bob@x.org"), Variant(false)));
  EXPECT_THAT(list->Calls[4].Args, ElementsAre(Variant(0)));
}

TEST_F(ScriptingTest, ResolutionPrefersAliasesAndDerivedClasses) {
  service.RegisterMethod("TTestList", "Clear");
  service.RegisterMethod("TTestBase", "Add");
  service.RegisterMethod("TTestBase", "Clear");
  service.RegisterMethodAlias("TTestList", "ClearAll", "Clear");
  const std::vector<std::string> classes{"TTestList", "TTestBase"};
  EXPECT_EQ(service.ResolveMethod(classes, "add"), "AddFromScript");
  EXPECT_EQ(service.ResolveMethod(classes, "CLEAR"), "ClearAll");
  EXPECT_EQ(service.ResolveMethod({"TTestBase"}, "Clear"), "Clear");
  EXPECT_EQ(service.ResolveMethod({"TOther"}, "Count"), std::nullopt);
  EXPECT_THAT(service.Methods("TTestBase"), ElementsAre("Count", "Item", "Fail", "Add", "Clear"));
  EXPECT_THAT(service.MethodClasses(), ElementsAre("TTestBase", "TTestList"));
}

TEST_F(ScriptingTest, ErrorsNameTheScriptAndLine) {
  struct TCase {
    const char* Text;
    int Line;
    const char* Detail;
  };
  const TCase cases[] = {
      {"x = 1\nx = = 2", 2, "unexpected symbol"},
      {"x = 1\n\nif x then", 3, "'end' expected"},
      {"local t\nt.field = 1", 2, "attempt to index"},
      {"\nList:Frobnicate(1)", 2, "Unknown method 'Frobnicate' of class TTestList"},
      {"local n = List:Count()\nList:Fail()", 2, "list is locked"},
      {"List:Add(function() end)", 1, "Cannot pass a function to method 'AddFromScript'"},
      {"\n\nerror(setmetatable({}, {__tostring = function() return 'custom' end}))", 3, "custom"},
      {"GetVariable('X')", 1, "GetVariable is not available"},
      {"Name = {}", 0, "Cannot pass a table back in Name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    TScript& s = scripts.AddScript("OnSend");
    s.Text = c.Text;
    s.DeclareParam("Name");
    s.SetParam("List", service.WrapObject(list));
    Variant result;
    try {
      scripts.ExecuteScript("OnSend", result, service, nullptr);
      ADD_FAILURE() << "no error";
    } catch (const EScriptStopped&) {
      ADD_FAILURE() << "reported as a stop";
    } catch (const EScriptError& e) {
      EXPECT_EQ(e.ScriptName(), "OnSend");
      EXPECT_EQ(e.Line(), c.Line);
      EXPECT_THAT(e.Detail(), HasSubstr(c.Detail));
      EXPECT_THAT(e.Message(), HasSubstr("OnSend"));
      EXPECT_THAT(e.Detail(), ::testing::Not(HasSubstr("OnSend:"))) << "position stays out of the detail";
    }
  }
}

TEST_F(ScriptingTest, HostFunctionsReachTheScriptHost) {
  fakeHost.Vars["SITE"] = "ftp.example.org";
  Variant result = Run(R"(
    SetVariable("Copy", GetVariable("SITE") .. "/pub")
    SetVariable("Count", 3)
    Log("sent")
    Log("failed", 3)
    print("a", 1, true)
    Result = GetVariable("Missing") == nil
  )",
                       &fakeHost);
  EXPECT_EQ(result, Variant(true));
  EXPECT_EQ(fakeHost.Vars["Copy"], Variant("ftp.example.org/pub"));
  EXPECT_EQ(fakeHost.Vars["Count"], Variant(3));
  EXPECT_THAT(fakeHost.Lines, ElementsAre("0:sent", "3:failed", "0:a\t1\ttrue"));
}

TEST_F(ScriptingTest, ObjectHandlesSurviveCollectionAndAreReleasedAfterTheRun) {
  const auto& child = list->Children[0];
  Variant result = Run(R"(
    local kept = List:Item(0)
    for i = 1, 100 do local tmp = List:Item(0) end
    collectgarbage("collect")
    SetVariable("Kept", kept)
    Result = kept:Count()
  )",
                       &fakeHost);
  EXPECT_EQ(result, Variant(0));
  EXPECT_EQ(child.use_count(), 2) << "held by the list and the host variable only";

  // The handle stored in a variable works in a later run.
  result = Run(R"(GetVariable("Kept"):Add({"Ann", "ann@x.org"}); Result = GetVariable("Kept"):Count())",
               &fakeHost);
  EXPECT_EQ(result, Variant(1));
  fakeHost.Vars.clear();
  EXPECT_EQ(child.use_count(), 1);
  EXPECT_EQ(child->Children[0].use_count(), 1);

  scripts.GetScriptByName("OnSend")->SetParam("List", {});
  EXPECT_EQ(list.use_count(), 1);
}

TEST_F(ScriptingTest, NonOwningHandlesCallTheObject) {
  TTestList local(service);
  Variant handle = service.WrapObject(&local);
  EXPECT_EQ(handle.AsObject().use_count(), 0);
  TScript& s = scripts.AddScript("OnSend");
  s.SetParam("Target", handle);
  s.Text = "Target:Add({'Ann', 'ann@x.org'}) Result = Target:Count()";
  Variant result;
  ASSERT_TRUE(scripts.ExecuteScript("OnSend", result, service, nullptr));
  EXPECT_EQ(result, Variant(1));
  EXPECT_EQ(s.GetParam("Target").AsObject().get(), handle.AsObject().get());
}

TEST_F(ScriptingTest, StopFlagEndsRunawayScripts) {
  std::stop_source stopped;
  stopped.request_stop();
  for (const char* text :
       {"while true do end", "while true do pcall(function() while true do end end) end"}) {
    SCOPED_TRACE(text);
    scripts.AddScript("OnSend").Text = text;
    Variant result;
    EXPECT_THROW(scripts.ExecuteScript("OnSend", result, service, nullptr, stopped.get_token()), EScriptStopped);
  }
  std::stop_source running;
  EXPECT_EQ(Run("local n = 0 for i = 1, 100000 do n = n + i end Result = n", nullptr, running.get_token()),
            Variant(5000050000));
}

TEST(ScriptingRegistrationTest, RegistrationsAreRecordedInOrder) {
  THost host(false);
  auto& service = host.Scripting();
  service.RegisterMethodAlias("TMxCustomAddressList", "AddFromScript", "Add");
  service.RegisterMethod("TMxCustomAddressList", "Item");
  service.RegisterConstant("emIndividual", 1);
  service.RegisterEnumeration("TFTPMirrorOperation", {"moLocalToRemote", "moRemoteToLocal"});
  EXPECT_THAT(
      host.Registrations(),
      ElementsAre(
          TRegistration{"Scripting", "RegisterMethodAlias", {"TMxCustomAddressList", "AddFromScript", "Add"}},
          TRegistration{"Scripting", "RegisterMethod", {"TMxCustomAddressList", "Item"}},
          TRegistration{"Scripting", "RegisterConstant", {"emIndividual", "1"}},
          TRegistration{"Scripting",
                        "RegisterEnumeration",
                        {"TFTPMirrorOperation", "moLocalToRemote", "moRemoteToLocal"}}));
}

}  // namespace
}  // namespace host
