#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "host/MxScripting.h"
#include "host/MxServices.h"
#include "mail/MxEmail.h"
#include "rtl/SysUtils.h"
#include "tests/support/ServerProcess.h"

namespace mx {
namespace {

using ::testing::HasSubstr;
using ::testing::Pair;

// (address, name, enabled) of every entry, in list order.
struct TEntry {
  std::string Address, Name;
  bool Enabled;
  bool operator==(const TEntry&) const = default;
};
void PrintTo(const TEntry& e, std::ostream* os) {
  *os << "{" << e.Address << ", " << e.Name << ", " << e.Enabled << "}";
}

std::vector<TEntry> Entries(const TMxCustomAddressList& list) {
  std::vector<TEntry> out;
  for (int i = 0; i < list.GetCount(); ++i) {
    auto e = list.GetItemObject(i);
    out.push_back({e->GetAddress(), e->GetName(), e->GetEnabled()});
  }
  return out;
}

// ---------------------------------------------------------------- single addresses

struct TParseCase {
  const char* Text;
  const char* Address;
  const char* Name;
};

TEST(MxEmailAddress, SetTextParsesTheFormsUsersWrite) {
  const TParseCase cases[] = {
      {"John Smith <john@example.org>", "john@example.org", "John Smith"},
      {"john@example.org (John Smith)", "john@example.org", "John Smith"},
      {"\"John Smith\" <john@example.org>", "john@example.org", "John Smith"},
      {"'Ann' <ann@example.org>", "ann@example.org", "Ann"},
      {"\"'Ann'\" < ann@example.org >", "ann@example.org", "Ann"},  // quotes strip repeatedly
      {"\"Ann <ann@example.org>", "ann@example.org", "\"Ann"},      // one quote stays
      {"<ann@example.org>", "ann@example.org", ""},
      {"ann@example.org>", "", ""},  // ">" without "<"
      {"ann@example.org)", "", ""},  // ")" without "("
      {"  ann@example.org  ", "  ann@example.org  ", ""},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    TMxEmailAddress a;
    a.SetName("previous");
    a.SetAddress("previous@example.org");
    a.SetText(c.Text);
    EXPECT_EQ(a.GetAddress(), c.Address) << c.Text;
    EXPECT_EQ(a.GetName(), c.Name) << c.Text;
  }
}

TEST(MxEmailAddress, GetTextShowsTheNameOnlyWhenItSaysMore) {
  const struct {
    const char* Name;
    const char* Address;
    const char* Text;
  } cases[] = {
      {"", "ann@example.org", "ann@example.org"},
      {"Ann", "ann@example.org", "Ann <ann@example.org>"},
      {"ANN@EXAMPLE.ORG", "ann@example.org", "ann@example.org"},  // the upper-cased address
      {"ann@example.org", "ann@example.org", "ann@example.org <ann@example.org>"},
  };
  for (const auto& c : cases) {
    TMxEmailAddress a;
    a.SetName(c.Name);
    a.SetAddress(c.Address);
    EXPECT_EQ(a.GetText(), c.Text) << c.Name;
  }
  TMxEmailAddress tagged("from");
  EXPECT_EQ(tagged.GetAddressType(), "from");
  EXPECT_TRUE(tagged.GetEnabled());
}

// ---------------------------------------------------------------- lists

struct TDelimitedCase {
  const char* List;
  const char* Delimiter;
  std::vector<TEntry> Expected;
};

TEST(MxAddressList, AddDelimitedListFollowsTheDelimitedTextRules) {
  const TDelimitedCase cases[] = {
      {"a@x.org;b@y.org", ";", {{"a@x.org", "", true}, {"b@y.org", "", true}}},
      {" a@x.org , b@y.org ", " , ", {{"a@x.org", "", true}, {"b@y.org", "", true}}},  // trimmed delimiter
      {"a@x.org b@y.org", ",", {{"a@x.org", "", true}, {"b@y.org", "", true}}},        // blanks split too
      {"\"odd name@x.org\",,c@z.org", ",", {{"odd name@x.org", "", true}, {"c@z.org", "", true}}},
      {"Ann <a@x.org>", ",", {{"Ann", "", true}, {"<a@x.org>", "", true}}},  // not parsed as an address
      {"a@x.org\r\nBcc: evil@x.org",
       ",",
       {{"a@x.org", "", true}, {"Bcc:", "", true}, {"evil@x.org", "", true}}},
      {"", ",", {}},
  };
  for (const auto& c : cases) {
    TMxAddressList list;
    EXPECT_TRUE(list.AddDelimitedList(c.List, c.Delimiter));
    EXPECT_EQ(Entries(list), c.Expected) << c.List;
  }
}

TEST(MxAddressList, AddDelimitedListRefusesADelimiterOfMoreThanOneCharacter) {
  for (const char* d : {";;", "", "  "}) {
    TMxAddressList list;
    try {
      list.AddDelimitedList("a@x.org;;b@y.org", d);
      ADD_FAILURE() << "accepted <" << d << ">";
    } catch (const rtl::Exception& e) {
      EXPECT_EQ(e.Message(), "Delimiter must be a single character: <" + rtl::Trim(d) + ">");
    }
    EXPECT_EQ(list.GetCount(), 0);
  }
}

TEST(MxAddressList, AddFromFileReadsAddressCommaNameLines) {
  testsupport::ScratchDir dir("addresses");
  const auto file = dir.Path() / "list.txt";
  // Saved by an editor that writes a byte-order mark; the blanks around an address are not
  // part of it, the name keeps its text.
  std::ofstream(file, std::ios::binary) << "\xEF\xBB\xBF"
                                           "ann@x.org,Ann Lee\r\n"
                                           "bob@y.org,\r\n"
                                           "\r\n"
                                           "   \n"
                                           "cy@z.org,Cy, Jr\n"
                                           " dan@w.org \n"
                                           "fay@u.org ,Fay\n"
                                           "\tgus@t.org\t, Gus \n"
                                           "eve@v.org";
  TMxAddressList list;
  list.Add("", "kept@x.org", false);
  EXPECT_TRUE(list.AddFromFile(file.string()));
  const std::vector<TEntry> expected = {{"kept@x.org", "", false},    {"ann@x.org", "Ann Lee", true},
                                        {"bob@y.org", "", true},      {"cy@z.org", "Cy, Jr", true},
                                        {"dan@w.org", "", true},      {"fay@u.org", "Fay", true},
                                        {"gus@t.org", " Gus ", true}, {"eve@v.org", "", true}};
  EXPECT_EQ(Entries(list), expected);

  EXPECT_FALSE(list.AddFromFile((dir.Path() / "missing.txt").string()));
  EXPECT_EQ(list.GetCount(), 8);
}

TEST(MxAddressList, AddFromScriptTakesTwoOrThreeValues) {
  TMxAddressList list;
  EXPECT_TRUE(list.AddFromScript({"Ann", "ann@x.org"}).AsObject());
  EXPECT_TRUE(list.AddFromScript({"Bob", "bob@y.org", false}).AsObject());
  EXPECT_TRUE(list.AddFromScript({"Cy", "cy@z.org", "true"}).AsObject());
  EXPECT_TRUE(list.AddFromScript({"one"}).IsEmpty());
  EXPECT_TRUE(list.AddFromScript({"a", "b@x.org", true, "extra"}).IsEmpty());
  EXPECT_TRUE(list.AddFromScript({}).IsEmpty());
  const std::vector<TEntry> expected = {
      {"ann@x.org", "Ann", true}, {"bob@y.org", "Bob", false}, {"cy@z.org", "Cy", true}};
  EXPECT_EQ(Entries(list), expected);
}

TEST(MxAddressList, ItemRemoveAndRemoveItemIgnoreWhatIsNotThere) {
  TMxAddressList list;
  list.Add("", "a@x.org", true);
  list.Add("", "B@y.org", true);
  list.Add("second", "b@y.org", true);
  EXPECT_TRUE(list.Item(-1).IsEmpty());
  EXPECT_TRUE(list.Item(3).IsEmpty());
  EXPECT_EQ(list.GetItemObject(3), nullptr);

  list.Remove("nobody@x.org");
  list.RemoveItem(7);
  list.RemoveItem(-1);
  EXPECT_EQ(list.GetCount(), 3);

  list.Remove("b@Y.org");  // the first entry filed under it, regardless of case
  EXPECT_EQ(Entries(list), (std::vector<TEntry>{{"a@x.org", "", true}, {"b@y.org", "second", true}}));
  list.RemoveItem(0);
  EXPECT_EQ(Entries(list), (std::vector<TEntry>{{"b@y.org", "second", true}}));
  list.Clear();
  EXPECT_EQ(list.GetCount(), 0);
}

// ---------------------------------------------------------------- scripts

class MxAddressListScript : public ::testing::Test {
 protected:
  MxAddressListScript() {
    RegisterEmail(false);
    // Not registered by the package; lets the test look into the handles it gets back.
    host_.Scripting().RegisterMethod("TMxCustomEmailAddress", "GetAddress");
    host_.Scripting().RegisterMethod("TMxCustomEmailAddress", "GetName");
  }
  // Runs a script with the list as the global List; the script's globals come back as params.
  host::TScript& Run(const std::string& text, const std::vector<std::string>& outputs = {}) {
    host::TScript& s = scripts_.AddScript("Test");
    s.Text = text;
    s.SetParam("List", host_.Scripting().WrapObject(list_));
    for (const auto& o : outputs) s.DeclareParam(o);
    rtl::Variant result;
    scripts_.ExecuteScript("Test", result, host_.Scripting(), nullptr);
    return s;
  }

  host::THost host_{false};
  std::shared_ptr<TMxAddressList> list_ = std::make_shared<TMxAddressList>("recipients");
  host::TScriptList scripts_;
};

TEST_F(MxAddressListScript, AddRunsAddFromScriptAndItemHandsOutTheSameEntry) {
  auto& s = Run(R"(
    local ann = List:Add("Ann", "ann@x.org")
    local bob = List:Add({"Bob", "bob@y.org", false})
    Nothing = (List:Add("lonely") == nil)
    Same = (List:Item(0) == ann) and (List:Item(1) == bob)
    Outside = (List:Item(2) == nil) and (List:Item(-1) == nil) and (List.Item(4294967296) == nil)
    List:AddDelimitedList("c@z.org;d@w.org", " ; ")
    List:AddFromFile("/no/such/file")
    List:Remove("C@Z.ORG")
    List:RemoveItem(0)
    -- a handle keeps its entry after the list lets go of it
    List:Clear()
    Kept = ann:GetName() .. " " .. ann:GetAddress()
    List:Add("Eve", "eve@v.org", true)
  )",
                {"Nothing", "Same", "Outside", "Kept"});
  EXPECT_TRUE(s.GetParam("Nothing").AsBoolean());
  EXPECT_TRUE(s.GetParam("Same").AsBoolean());
  EXPECT_TRUE(s.GetParam("Outside").AsBoolean());
  EXPECT_EQ(s.GetParam("Kept").AsString(), "Ann ann@x.org");
  EXPECT_EQ(Entries(*list_), (std::vector<TEntry>{{"eve@v.org", "Eve", true}}));
}

TEST_F(MxAddressListScript, ABadDelimiterIsAScriptErrorWithTheListsText) {
  try {
    Run(R"(List:AddDelimitedList("a@x.org;;b@y.org", ";;"))");
    ADD_FAILURE() << "no error";
  } catch (const host::EScriptError& e) {
    EXPECT_THAT(e.Detail(), HasSubstr("Delimiter must be a single character: <;;>"));
  }
  EXPECT_EQ(list_->GetCount(), 0);
  // Methods the package does not register are not callable.
  EXPECT_THROW(Run("List:AddEnabled('a', 'b@x.org')"), host::EScriptError);
}

}  // namespace
}  // namespace mx
