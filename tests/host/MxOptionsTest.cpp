#include "host/MxOptions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "host/MxServices.h"
#include "rtl/Exception.h"

namespace host {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class OptionStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "quillon-options-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Write(const std::string& name, const std::string& content) {
    std::ofstream(dir_ / name, std::ios::binary) << content;
    return (dir_ / name).string();
  }
  static std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path dir_;
};

TEST_F(OptionStoreTest, SaveAndLoadRoundTripValuesExactly) {
  TMxOptionStore store;
  auto w = store.Writer("Internet");
  w.WriteString("SMTPHost", "mail.example.org");
  w.WriteInteger("SMTPPort", -465);
  w.WriteBool("SMTPAuth", true);
  w.WriteString("Markup", "<a href=\"x\">&amp;</a>");
  w.WriteString("Blanks", "  ");
  w.WriteString("Lines", " one\r\ntwo ");
  w.WriteString("Empty", "");
  w.WriteString("Unicode", "Grüße 你好");
  store.Writer("Other").WriteInteger("N", 1);
  w.WriteString("SMTPHost", "relay.example.org");  // overwrite keeps the key's place

  const fs::path path = dir_ / "cfg" / "quillon" / "options.xml";
  store.Save(path.string());

  TMxOptionStore loaded;
  loaded.Load(path.string());
  EXPECT_THAT(loaded.LastWarning(), IsEmpty());
  EXPECT_THAT(loaded.Groups(), ElementsAre("Internet", "Other"));
  EXPECT_THAT(loaded.Keys("Internet"), ElementsAre("SMTPHost", "SMTPPort", "SMTPAuth", "Markup", "Blanks",
                                                   "Lines", "Empty", "Unicode"));
  for (const auto& key : loaded.Keys("Internet"))
    EXPECT_EQ(loaded.Value("Internet", key), store.Value("Internet", key)) << key;
  auto r = loaded.Reader("Internet");
  EXPECT_EQ(r.ReadString("SMTPHost", ""), "relay.example.org");
  EXPECT_EQ(r.ReadInteger("SMTPPort", 0), -465);
  EXPECT_TRUE(r.ReadBool("SMTPAuth", false));
  EXPECT_EQ(loaded.Reader("Other").ReadInteger("N", 0), 1);

  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_THAT(Read(path), HasSubstr("<group key=\"Internet\">"));
  EXPECT_THAT(Read(path), HasSubstr("<value key=\"SMTPPort\">-465</value>"));
}

TEST_F(OptionStoreTest, SaveReplacesTheFileAndLeavesNoTemporaryFiles) {
  const std::string path =
      Write("options.xml", "<options><group key=\"G\"><value key=\"A\">1</value></group></options>");
  TMxOptionStore store;
  store.Load(path);
  store.Writer("G").WriteString("B", "2");
  store.Save(path);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
  TMxOptionStore again;
  again.Load(path);
  EXPECT_THAT(again.Keys("G"), ElementsAre("A", "B"));
}

TEST_F(OptionStoreTest, ValuesOfTheWrongFormReadAsTheDefault) {
  struct Case {
    const char* text;
    std::int64_t asInteger;  // default 7 when not an integer
    int asBool;              // -1: not a Boolean (default returned)
  };
  const Case cases[] = {
      {"42", 42, -1},
      {" 42 ", 42, -1},
      {"+5", 5, -1},
      {"+-5", 7, -1},
      {"-9223372036854775808", INT64_MIN, -1},
      {"4x", 7, -1},
      {"", 7, -1},
      {"0x10", 7, -1},
      {"99999999999999999999", 7, -1},
      {"true", 7, 1},
      {"FALSE", 7, 0},
      {"yes", 7, -1},
      {"1", 1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TMxOptionStore store;
    store.Writer("G").WriteString("K", c.text);
    auto r = store.Reader("G");
    EXPECT_EQ(r.ReadInteger("K", 7), c.asInteger);
    if (c.asBool < 0) {
      EXPECT_TRUE(r.ReadBool("K", true));
      EXPECT_FALSE(r.ReadBool("K", false));
    } else {
      EXPECT_EQ(r.ReadBool("K", c.asBool == 0), c.asBool == 1);
    }
  }
  TMxOptionStore empty;
  EXPECT_EQ(empty.Reader("Nothing").ReadString("K", "dflt"), "dflt");
}

TEST_F(OptionStoreTest, BadFilesGiveAnEmptyStoreAndAWarning) {
  TMxOptionStore store;
  store.Load((dir_ / "missing.xml").string());
  EXPECT_THAT(store.Groups(), IsEmpty());
  EXPECT_THAT(store.LastWarning(), IsEmpty());

  struct Case {
    const char* what;
    std::string path;
  };
  const Case cases[] = {
      {"malformed", Write("bad.xml", "<options><group key=\"G\"><value key=\"A\">1</group>")},
      {"other root", Write("root.xml", "<settings><group key=\"G\"/></settings>")},
      {"empty file", Write("empty.xml", "")},
      {"a directory", dir_.string()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    store.Writer("Stale").WriteString("K", "V");
    EXPECT_NO_THROW(store.Load(c.path));
    EXPECT_THAT(store.Groups(), IsEmpty());
    EXPECT_THAT(store.LastWarning(), HasSubstr(c.path));
  }
  store.Load((dir_ / "missing.xml").string());
  EXPECT_THAT(store.LastWarning(), IsEmpty());
}

// The fuzz target loads the text without a file: it must see what a file of that text gives.
TEST_F(OptionStoreTest, TextLoadsAsTheFileWithItDoes) {
  const std::string texts[] = {
      "<options><group key=\"G\"><value key=\"A\">1</value><value key=\"B\"/></group>"
      "<group key=\"H\"><value key=\"A\">x</value></group></options>",
      "<options><group key=\"G\"><value key=\"A\">1</group>",
      "<settings/>",
      "",
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    const std::string path = Write("store.xml", text);
    TMxOptionStore fromFile, fromText;
    fromFile.Load(path);
    fromText.Writer("Stale").WriteString("K", "V");
    fromText.LoadFromString(text, path);
    EXPECT_EQ(fromText.Groups(), fromFile.Groups());
    for (const std::string& g : fromFile.Groups()) EXPECT_EQ(fromText.Keys(g), fromFile.Keys(g));
    EXPECT_EQ(fromText.Value("G", "A"), fromFile.Value("G", "A"));
    EXPECT_EQ(fromText.LastWarning(), fromFile.LastWarning());
  }
}

TEST_F(OptionStoreTest, SaveFailureThrows) {
  Write("file", "x");
  TMxOptionStore store;
  EXPECT_THROW(store.Save((dir_ / "file" / "options.xml").string()), rtl::Exception);
}

TEST(OptionStorePathTest, DefaultPathIsInTheConfigDirectory) {
  const char* old = std::getenv("XDG_CONFIG_HOME");
  std::string saved = old ? old : "";
  ::setenv("XDG_CONFIG_HOME", "/xdg", 1);
  EXPECT_EQ(DefaultOptionStorePath(), "/xdg/quillon/options.xml");
  old ? ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
}

// A minimal options object: two objects of this kind share the group "Shared".
class TCounterOptions : public TMxOptionsObject {
  MX_CLASS(TCounterOptions, TMxOptionsObject)
  MX_PROPERTIES(TCounterOptions, TMxOptionsObject)
 public:
  std::string GetOptionKey() const override { return "Shared"; }
  std::string GetCategory() const override { return "Test"; }
  std::string GetName() const override { return "Counter"; }
  void LoadOptions(IMxOptionsReader& reader) override {
    TMxOptionsObject::LoadOptions(reader);
    Count = reader.ReadInteger("Count", 3);
    if (reader.ReadString("Broken", "") == "yes") AddLoadWarning("broken value");
  }
  void SaveOptions(IMxOptionsWriter& writer) override { writer.WriteInteger("Count", Count); }
  std::int64_t Count = 0;
  std::string Label;
  bool Flag = false;
  int Mode = 0;

  static void DefineProperties(TPropTable& t) {
    using O = TCounterOptions;
    TPropBuilder<O>(t)
        .Integer(
            "Count", [](const O& o) { return o.Count; }, [](O& o, std::int64_t v) { o.Count = v; })
        .String(
            "Label", [](const O& o) { return o.Label; }, [](O& o, const std::string& v) { o.Label = v; })
        .String(
            "Secret", [](const O& o) { return o.Label; }, [](O& o, const std::string& v) { o.Label = v; })
        .Secret()
        .Boolean(
            "Flag", [](const O& o) { return o.Flag; }, [](O& o, bool v) { o.Flag = v; })
        .Enum(
            "Mode", "TMode", {"mOff", "mOn"}, [](const O& o) { return o.Mode; },
            [](O& o, int v) { o.Mode = v; });
  }
};

class TOtherOptions : public TCounterOptions {
  MX_CLASS(TOtherOptions, TCounterOptions)
 public:
  std::string GetName() const override { return "Other"; }
};

class TNotOptions : public TObject {
  MX_CLASS(TNotOptions, TObject)
};

TEST(OptionsServiceTest, RegistersLiveObjectsAndRecordsTheCalls) {
  THost host(false);
  TOptionsService& service = host.Options();
  service.RegisterOptions(ClassOf<TCounterOptions>(), "BMP1");
  service.RegisterOptionPages("TCounterOptions", {"TPageA", "TPageB"});
  EXPECT_THROW(service.RegisterOptions(ClassOf<TNotOptions>(), "X"), rtl::Exception);

  ASSERT_EQ(service.Objects().size(), 1u);
  EXPECT_EQ(service.GetOptions("Counter", "Test"), service.Objects()[0].get());
  EXPECT_EQ(service.GetOptions("Counter", "Internet"), nullptr);
  EXPECT_EQ(service.BitmapOf("TCounterOptions"), "BMP1");
  EXPECT_THAT(service.PagesOf("TCounterOptions"), ElementsAre(ElementsAre("TPageA", "TPageB")));
  EXPECT_THAT(
      host.Registrations(),
      ElementsAre(TRegistration{"Options", "RegisterOptions", {"TCounterOptions", "BMP1"}},
                  TRegistration{"Options", "RegisterOptionPages", {"TCounterOptions", "TPageA", "TPageB"}}));
}

TEST(OptionsServiceTest, LoadAllAndSaveManageTheModifiedFlags) {
  THost host(false);
  TOptionsService& service = host.Options();
  service.RegisterOptions(ClassOf<TCounterOptions>(), "");
  service.RegisterOptions(ClassOf<TOtherOptions>(), "");
  auto& counter = static_cast<TCounterOptions&>(*service.Objects()[0]);
  auto& other = static_cast<TCounterOptions&>(*service.Objects()[1]);

  TMxOptionStore store;
  store.Writer("Shared").WriteString("Broken", "yes");
  counter.SetModified(true);
  EXPECT_THAT(service.LoadAll(store), ElementsAre("Counter: broken value", "Other: broken value"));
  EXPECT_EQ(counter.Count, 3);
  EXPECT_FALSE(counter.GetModified());

  counter.Count = 11;
  counter.SetModified(true);
  other.SetModified(true);
  service.Save(counter, store);
  EXPECT_EQ(store.Value("Shared", "Count"), "11");
  EXPECT_FALSE(counter.GetModified());
  EXPECT_FALSE(other.GetModified());  // same group, written together

  store.Writer("Shared").WriteString("Broken", "no");
  EXPECT_THAT(service.LoadAll(store), IsEmpty());  // a load forgets the old warnings
  EXPECT_THAT(counter.LoadWarnings(), IsEmpty());
}

TEST(OptionsObjectTest, PropertiesAreListedAndSetFromText) {
  TCounterOptions o;
  o.Count = 5;
  EXPECT_THAT(o.GetOptionProperties(), ElementsAre(TOptionProperty{"Count", "integer", "5", false},
                                                   TOptionProperty{"Label", "string", "", false},
                                                   TOptionProperty{"Secret", "string", "(empty)", true},
                                                   TOptionProperty{"Flag", "Boolean", "false", false},
                                                   TOptionProperty{"Mode", "TMode", "mOff", false}));
  o.SetOptionProperty("count", " 12 ");
  o.SetOptionProperty("Secret", "pw");
  o.SetOptionProperty("FLAG", "yes");
  o.SetOptionProperty("Mode", "MON");
  EXPECT_EQ(o.Count, 12);
  EXPECT_EQ(o.Label, "pw");
  EXPECT_TRUE(o.Flag);
  EXPECT_EQ(o.Mode, 1);
  EXPECT_EQ(o.GetOptionProperties()[2].Value, "(set)");
  o.SetOptionProperty("Mode", "0");
  EXPECT_EQ(o.Mode, 0);

  struct Case {
    const char* name;
    const char* text;
  };
  const Case bad[] = {
      {"Count", "twelve"}, {"Flag", "maybe"}, {"Mode", "2"}, {"Mode", "mHalf"}, {"Nope", "1"}};
  for (const auto& c : bad) {
    SCOPED_TRACE(c.name + std::string("=") + c.text);
    try {
      o.SetOptionProperty(c.name, c.text);
      ADD_FAILURE() << "no error";
    } catch (const rtl::Exception& e) {
      EXPECT_THAT(e.Message(), HasSubstr(c.name));
    }
  }
  EXPECT_EQ(o.Count, 12);
}

}  // namespace
}  // namespace host
