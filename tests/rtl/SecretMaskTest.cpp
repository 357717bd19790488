#include "rtl/SecretMask.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "rtl/SysUtils.h"

namespace {

using ::testing::ElementsAre;

TEST(SecretMaskTest, PropertyNamesThatHoldSecrets) {
  for (const char* name :
       {"Password", "ProxyPassword", "EncryptedPassword", "Cookie", "ProxyCookie", "SMTPPASSWORD"})
    EXPECT_TRUE(rtl::IsSecretName(name)) << name;
  for (const char* name : {"Host", "UserName", "Passive", "PassiveMode", "Port"})
    EXPECT_FALSE(rtl::IsSecretName(name)) << name;
}

TEST(SecretMaskTest, CommandsCarryingASecretShowItMasked) {
  const std::map<std::string, std::string> cases = {
      {"PASS hunter2", "PASS ****"},
      {"pass two words", "pass ****"},
      {"ACCT acc", "ACCT ****"},
      {"  PASS x", "  PASS ****"},
      {"PASS", "PASS"},
      {"USER ann", "USER ann"},
      {"PASSIVE x", "PASSIVE x"},
      {"SITE PASS x", "SITE PASS x"},
      {"AUTH PLAIN AGFubgBzM2NyM3Q=", "AUTH PLAIN ****"},
      {"auth login YW5u", "auth login ****"},
      {"AUTH TLS", "AUTH TLS"},  // a mechanism alone is no secret
      {"APOP ann c4c9334bac560ecc979e58001b3e22fb", "APOP ann ****"},
      {"APOP a b c4c9334b", "APOP a b ****"},  // the user name stays whole
      {"AUTHINFO PASS s3cr3t word", "AUTHINFO PASS ****"},
      {"authinfo pass x", "authinfo pass ****"},
      {"AUTHINFO USER ann", "AUTHINFO USER ann"},
      {"AUTHINFO SASL PLAIN AGFubgBz", "AUTHINFO SASL PLAIN ****"},
  };
  for (const auto& [line, shown] : cases) EXPECT_EQ(rtl::MaskedCommand(line), shown) << line;
}

TEST(SecretMaskTest, DialogueLinesMaskThePasswordNotTheLine) {
  // A password that is common text masks where it occurs; the line stays readable.
  EXPECT_THAT(rtl::DialogueLogLines("Recv", "250 OK\r\n", "OK"), ElementsAre("Recv : 250 ****"));
  EXPECT_THAT(rtl::DialogueLogLines("Recv", "250-a OK b OK\r\n250 end\r\n", "OK"),
              ElementsAre("Recv : 250-a **** b ****", "250 end"));
  // Anything that mentions a password goes whole.
  EXPECT_THAT(rtl::DialogueLogLines("Sent", "PASS hunter2\r\n", "hunter2"), ElementsAre("Sent : pass xxx"));
  EXPECT_THAT(rtl::DialogueLogLines("Recv", "331 Password required\r\n"), ElementsAre("Recv : pass xxx"));
  // Split at CR and CR LF; an empty rest is dropped.
  EXPECT_THAT(rtl::DialogueLogLines("Recv", "a\rb\r\nc"), ElementsAre("Recv : a", "b", "c"));
}

TEST(SysUtilsTextTest, HostPortAndCaseInsensitiveOrder) {
  EXPECT_EQ(rtl::JoinHostPort("ftp.example.org", 21), "ftp.example.org:21");
  EXPECT_EQ(rtl::JoinHostPort("127.0.0.1", 8080), "127.0.0.1:8080");
  EXPECT_EQ(rtl::JoinHostPort("::1", 21), "[::1]:21");
  EXPECT_EQ(rtl::JoinHostPort("[::1]", "8443"), "[::1]:8443");  // bracketed once
  EXPECT_EQ(rtl::BracketedHost("fe80::1"), "[fe80::1]");
  std::map<std::string, int, rtl::TextLess> names{{"Site", 1}, {"alpha", 2}};
  EXPECT_EQ(names.count("SITE"), 1u);
  EXPECT_EQ(names.begin()->first, "alpha");
  names["ALPHA"] = 3;
  EXPECT_EQ(names.size(), 2u);
}

}  // namespace
