#include "rtl/StringList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtl/Exception.h"

namespace {

using Items = std::vector<std::string>;

rtl::TStringList Make(char delimiter, char quote, bool strict) {
  rtl::TStringList l;
  l.Delimiter = delimiter;
  l.QuoteChar = quote;
  l.StrictDelimiter = strict;
  return l;
}

// Items and their canonical delimited text: joining gives the text, parsing gives the items.
struct RoundTrip {
  Items items;
  char delimiter;
  char quote;
  bool strict;
  std::string text;
};

TEST(StringListDelimited, JoinsAndSplitsBothWays) {
  const RoundTrip cases[] = {
      {{"a", "b", "c"}, ',', '"', false, "a,b,c"},
      {{}, ',', '"', false, ""},
      {{""}, ',', '"', false, "\"\""},
      {{"a", "", "b"}, ',', '"', false, "a,\"\",b"},
      {{"a b", "c"}, ',', '"', false, "\"a b\",c"},
      {{"a b", "c"}, ',', '"', true, "a b,c"},
      {{"x,y", "z"}, ',', '"', true, "\"x,y\",z"},
      {{"say \"hi\""}, ',', '"', false, "\"say \"\"hi\"\"\""},
      {{"tab\there", "nl\nx"}, ',', '"', false, "\"tab\there\",\"nl\nx\""},
      {{"a,b", "it's"}, ';', '\'', false, "a,b;'it''s'"},
      {{"gr\xC3\xBC\xC3\x9F", "\xC2\xA0"},
       ',',
       '"',
       false,
       "gr\xC3\xBC\xC3\x9F,\xC2\xA0"},  // UTF-8 is no blank
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto l = Make(c.delimiter, c.quote, c.strict);
    l.Items() = c.items;
    EXPECT_EQ(l.DelimitedText(), c.text);
    l.SetDelimitedText(c.text);
    EXPECT_EQ(l.Items(), c.items);
  }
}

struct Parse {
  std::string text;
  bool strict;
  Items items;
};

TEST(StringListDelimited, ParsesLooseText) {
  const Parse cases[] = {
      {"a,,b", false, {"a", "", "b"}},
      {"a,", false, {"a", ""}},
      {",a", false, {"", "a"}},
      {"a,  ", false, {"a"}},  // the delimiter is not the last character: no final empty item
      {"  a ,  b  ", false, {"a", "b"}},
      {"a , , b", false, {"a", "", "b"}},
      {"a b\tc\x01"
       "d",
       false,
       {"a", "b", "c", "d"}},
      {" a , b", true, {" a ", " b"}},
      {"a b,", true, {"a b", ""}},
      {"\"a,b\",c", false, {"a,b", "c"}},
      {"\"x\"\"y\"", false, {"x\"y"}},
      {"\"open, text", false, {"open, text"}},
      {"\"ab\"cd,e", false, {"ab", "cd", "e"}},
      {"   ", false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto l = Make(',', '"', c.strict);
    l.Add("stale");
    l.SetDelimitedText(c.text);
    EXPECT_EQ(l.Items(), c.items);
  }
}

TEST(StringListDelimited, CommaTextIgnoresTheListSettings) {
  auto l = Make(';', '\'', true);
  l.Items() = {"a b", "c"};
  EXPECT_EQ(l.DelimitedText(), "a b;c");
  EXPECT_EQ(l.CommaText(), "\"a b\",c");
  l.SetCommaText("x y;z,'q'");
  EXPECT_EQ(l.Items(), (Items{"x", "y;z", "'q'"}));
}

TEST(StringList, TextSplitsAtEveryLineBreakKind) {
  rtl::TStringList l;
  l.SetText("a\r\nb\nc\rd\n");
  EXPECT_EQ(l.Items(), (Items{"a", "b", "c", "d"}));
  EXPECT_EQ(l.Text(), "a\nb\nc\nd\n");
  EXPECT_EQ(l.Join("\r\n"), "a\r\nb\r\nc\r\nd");
  l.SetText("\n\nx");
  EXPECT_EQ(l.Items(), (Items{"", "", "x"}));
  l.SetText(l[2]);  // a view into the list itself
  EXPECT_EQ(l.Items(), (Items{"x"}));
}

TEST(StringList, NamesAndValues) {
  rtl::TStringList l{"Host=example.org", "Port=21", "Path=a=b", "NoSeparator", "Empty="};
  EXPECT_EQ(l.Names(0), "Host");
  EXPECT_EQ(l.Names(3), "");
  EXPECT_EQ(l.ValueFromIndex(2), "a=b");
  EXPECT_EQ(l.Values("HOST"), "example.org");
  EXPECT_EQ(l.Values("Missing"), "");
  EXPECT_EQ(l.IndexOfName("port"), 1);
  EXPECT_EQ(l.IndexOfName("NoSeparator"), -1);
  EXPECT_EQ(l.IndexOfName("empty"), 4);

  l.SetValue("PORT", "22");
  EXPECT_EQ(l[1], "PORT=22");
  l.SetValue("User", "me");
  EXPECT_EQ(l[5], "User=me");
  l.SetValue("host", "");  // an empty value removes the entry
  EXPECT_EQ(l.IndexOfName("Host"), -1);
  EXPECT_EQ(l.Count(), 5);
}

TEST(StringList, IndexOfIgnoresCaseAndBoundsAreChecked) {
  rtl::TStringList l{"Alpha", "beta"};
  EXPECT_EQ(l.IndexOf("BETA"), 1);
  EXPECT_EQ(l.IndexOf("gamma"), -1);
  l.Insert(2, "end");
  l.Insert(0, "start");
  EXPECT_EQ(l.Items(), (Items{"start", "Alpha", "beta", "end"}));
  l.Delete(1);
  EXPECT_EQ(l.Items(), (Items{"start", "beta", "end"}));
  EXPECT_THROW(l.Insert(4, "x"), rtl::Exception);
  EXPECT_THROW(l.Delete(3), rtl::Exception);
  EXPECT_THROW(l.Delete(-1), rtl::Exception);
}

}  // namespace
