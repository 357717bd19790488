#include "options/MxInternetOptions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "host/MxCrypto.h"
#include "host/MxServices.h"
#include "options/MxEmailOptions.h"
#include "options/MxFTPOptions.h"
#include "rtl/Exception.h"

namespace mx {
namespace {

namespace fs = std::filesystem;
using host::TMxOptionStore;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

// Records every read (type, key, default) and answers with the default.
class TRecordingReader : public host::IMxOptionsReader {
 public:
  std::vector<std::string> Calls;
  bool ReadBool(const std::string& key, bool def) override {
    Calls.push_back("Bool " + key + " " + host::BoolToText(def));
    return def;
  }
  std::int64_t ReadInteger(const std::string& key, std::int64_t def) override {
    Calls.push_back("Integer " + key + " " + std::to_string(def));
    return def;
  }
  std::string ReadString(const std::string& key, const std::string& def) override {
    Calls.push_back("String " + key + " '" + def + "'");
    return def;
  }
};

// Records every write as "type key=value".
class TRecordingWriter : public host::IMxOptionsWriter {
 public:
  std::vector<std::string> Calls;
  std::vector<std::string> Keys;
  void WriteBool(const std::string& key, bool value) override { Add("Bool", key, host::BoolToText(value)); }
  void WriteInteger(const std::string& key, std::int64_t value) override {
    Add("Integer", key, std::to_string(value));
  }
  void WriteString(const std::string& key, const std::string& value) override { Add("String", key, value); }

 private:
  void Add(const std::string& type, const std::string& key, const std::string& value) {
    Calls.push_back(type + " " + key + "=" + value);
    Keys.push_back(key);
  }
};

const std::vector<std::string> k_save_order = {
    "FTPPort",  "FTPPassword", "FTPServer", "FTPUser", "SMTPPort",   "SMTPAuth",       "SMTPEHLO",
    "SMTPPass", "SMTPUser",    "SMTPHost",  "SMTPSSL", "SMTPUseTLS", "DefaultEncoding"};

// A host with both option objects registered, as the package registers them.
class InternetOptionsTest : public ::testing::Test {
 protected:
  InternetOptionsTest() {
    RegisterEmailOptions();
    RegisterFTPOptions();
    email_ = dynamic_cast<TMxEmailOptions*>(EmailOptions());
    ftp_ = dynamic_cast<TMxFTPOptions*>(FTPOptions());
  }
  void SetUp() override {
    ASSERT_NE(email_, nullptr);
    ASSERT_NE(ftp_, nullptr);
    host_.Options().LoadAll(TMxOptionStore());
  }
  void Fill() {
    email_->SetSMTPHost("mail.example.org");
    email_->SetSMTPPort(587);
    email_->SetSMTPAuth(true);
    email_->SetSMTPEHLO(true);
    email_->SetSMTPUser("ann");
    email_->SetSMTPPass("smtp-secret-1");
    email_->SetSMTPSSL(true);
    email_->SetSMTPUseTLS(utUseExplicitTLS);
    email_->SetDefaultEncoding("UTF-8");
    ftp_->SetFTPServer("ftp.example.org");
    ftp_->SetFTPUser("bob");
    ftp_->SetFTPPass("ftp-secret-2");
    ftp_->SetFTPPort(2121);
  }

  host::THost host_{false};
  TMxEmailOptions* email_ = nullptr;
  TMxFTPOptions* ftp_ = nullptr;
};

TEST_F(InternetOptionsTest, RegistrationRecordsClassAndBitmap) {
  EXPECT_THAT(host_.Registrations(),
              ElementsAre(host::TRegistration{"Options", "RegisterOptions", {"TMxEmailOptions", "MxEMAIL"}},
                          host::TRegistration{"Options", "RegisterOptions", {"TMxFTPOptions", "HINTERNET"}}));
  for (host::TMxOptionsObject* o :
       {static_cast<host::TMxOptionsObject*>(email_), static_cast<host::TMxOptionsObject*>(ftp_)}) {
    EXPECT_EQ(o->GetOptionKey(), "Internet");
    EXPECT_EQ(o->GetCategory(), "Internet");
  }
  EXPECT_EQ(email_->GetName(), "Email Options");
  EXPECT_EQ(ftp_->GetName(), "FTP Options");
}

TEST_F(InternetOptionsTest, AccessorsFollowTheCurrentHost) {
  {
    host::THost inner(false);
    EXPECT_EQ(EmailOptions(), nullptr);
    EXPECT_EQ(FTPOptions(), nullptr);
    RegisterFTPOptions();
    EXPECT_NE(FTPOptions(), nullptr);
    EXPECT_NE(FTPOptions(), ftp_);
  }
  host_.MakeCurrent();
  EXPECT_EQ(EmailOptions(), email_);
  EXPECT_EQ(FTPOptions(), ftp_);
}

TEST_F(InternetOptionsTest, EmptyStoreGivesTheDefaults) {
  EXPECT_EQ(email_->GetSMTPPort(), 25);
  EXPECT_EQ(ftp_->GetFTPPort(), 21);
  EXPECT_EQ(email_->GetSMTPUseTLS(), utNoTLSSupport);
  EXPECT_FALSE(email_->GetSMTPAuth());
  EXPECT_FALSE(email_->GetSMTPEHLO());
  EXPECT_FALSE(email_->GetSMTPSSL());
  EXPECT_EQ(email_->GetSMTPHost() + email_->GetSMTPUser() + email_->GetSMTPPass() +
                email_->GetDefaultEncoding() + ftp_->GetFTPServer() + ftp_->GetFTPUser() + ftp_->GetFTPPass(),
            "");
  EXPECT_FALSE(email_->GetModified());
  EXPECT_FALSE(ftp_->GetModified());

  TMxEmailOptions fresh;  // before any load only the TLS mode is set
  EXPECT_EQ(fresh.GetSMTPPort(), 0);
  EXPECT_EQ(fresh.GetSMTPUseTLS(), utNoTLSSupport);
}

TEST_F(InternetOptionsTest, LoadReadsKeysInOrderWithTheirDefaults) {
  TRecordingReader emailReads;
  email_->LoadOptions(emailReads);
  EXPECT_THAT(emailReads.Calls,
              ElementsAre("Integer SMTPPort 25", "Bool SMTPAuth false", "Bool SMTPEHLO false",
                          "String SMTPPass ''", "String SMTPUser ''", "String SMTPHost ''",
                          "Bool SMTPSSL false", "Integer SMTPUseTLS 0", "String DefaultEncoding ''"));
  TRecordingReader ftpReads;
  ftp_->LoadOptions(ftpReads);
  EXPECT_THAT(ftpReads.Calls, ElementsAre("Integer FTPPort 21", "String FTPPassword ''",
                                          "String FTPServer ''", "String FTPUser ''"));
}

TEST_F(InternetOptionsTest, LoadDoesNotMarkModifiedAndDecryptsPasswords) {
  TMxOptionStore store;
  auto w = store.Writer("Internet");
  w.WriteString("SMTPPass", host::TCryptoUtils::EncryptString("from-store"));
  w.WriteString("FTPPassword", host::TCryptoUtils::EncryptString("ftp-store"));
  w.WriteInteger("SMTPUseTLS", 2);
  w.WriteString("SMTPPort", "not a number");
  auto r = store.Reader("Internet");
  email_->LoadOptions(r);
  ftp_->LoadOptions(r);
  EXPECT_EQ(email_->GetSMTPPass(), "from-store");
  EXPECT_EQ(ftp_->GetFTPPass(), "ftp-store");
  EXPECT_EQ(email_->GetSMTPUseTLS(), utUseRequireTLS);
  EXPECT_EQ(email_->GetSMTPPort(), 25);
  EXPECT_FALSE(email_->GetModified());
  EXPECT_FALSE(ftp_->GetModified());
}

TEST_F(InternetOptionsTest, EitherSaveWritesAllThirteenValuesInOrder) {
  Fill();
  for (host::TMxOptionsObject* saved :
       {static_cast<host::TMxOptionsObject*>(email_), static_cast<host::TMxOptionsObject*>(ftp_)}) {
    SCOPED_TRACE(saved->GetName());
    TRecordingWriter w;
    saved->SaveOptions(w);
    ASSERT_THAT(w.Keys, ElementsAreArray(k_save_order));
    EXPECT_EQ(w.Calls[0], "Integer FTPPort=2121");
    EXPECT_THAT(w.Calls[1], StartsWith("String FTPPassword=q1:"));
    EXPECT_THAT(std::vector<std::string>(w.Calls.begin() + 2, w.Calls.end()),
                ElementsAre("String FTPServer=ftp.example.org", "String FTPUser=bob", "Integer SMTPPort=587",
                            "Bool SMTPAuth=true", "Bool SMTPEHLO=true", StartsWith("String SMTPPass=q1:"),
                            "String SMTPUser=ann", "String SMTPHost=mail.example.org", "Bool SMTPSSL=true",
                            "Integer SMTPUseTLS=3", "String DefaultEncoding=UTF-8"));
    const std::string ftpStored = w.Calls[1].substr(w.Calls[1].find('=') + 1);
    const std::string smtpStored = w.Calls[7].substr(w.Calls[7].find('=') + 1);
    EXPECT_EQ(host::TCryptoUtils::DecryptString(ftpStored), "ftp-secret-2");
    EXPECT_EQ(host::TCryptoUtils::DecryptString(smtpStored), "smtp-secret-1");
  }
}

TEST_F(InternetOptionsTest, SavingTheFTPGroupWritesAnSMTPChange) {
  TMxOptionStore store;
  host_.Options().Save(*ftp_, store);
  email_->SetSMTPHost("changed.example.org");
  ASSERT_TRUE(email_->GetModified());
  host_.Options().Save(*ftp_, store);
  EXPECT_EQ(store.Value("Internet", "SMTPHost"), "changed.example.org");
  EXPECT_FALSE(email_->GetModified());
}

TEST_F(InternetOptionsTest, SaveWithOneObjectMissingWritesItsOwnGroup) {
  host::THost ftpOnly(false);
  RegisterFTPOptions();
  auto* ftp = dynamic_cast<TMxFTPOptions*>(FTPOptions());
  ASSERT_NE(ftp, nullptr);
  ftp->SetFTPServer("only.example.org");
  TRecordingWriter w;
  ftp->SaveOptions(w);
  EXPECT_THAT(w.Keys, ElementsAre("FTPPort", "FTPPassword", "FTPServer", "FTPUser"));

  TMxEmailOptions standalone;  // not live anywhere: it stands in for the e-mail group
  TRecordingWriter w2;
  standalone.SaveOptions(w2);
  EXPECT_THAT(w2.Keys, ElementsAreArray(k_save_order));
}

TEST_F(InternetOptionsTest, SettersMarkModifiedOnlyOnChange) {
  Fill();
  struct Case {
    const char* property;
    std::function<void()> setSame, setOther;
  };
  const std::vector<Case> cases = {
      {"SMTPHost", [&] { email_->SetSMTPHost("mail.example.org"); }, [&] { email_->SetSMTPHost("x"); }},
      {"SMTPPort", [&] { email_->SetSMTPPort(587); }, [&] { email_->SetSMTPPort(25); }},
      {"SMTPAuth", [&] { email_->SetSMTPAuth(true); }, [&] { email_->SetSMTPAuth(false); }},
      {"SMTPEHLO", [&] { email_->SetSMTPEHLO(true); }, [&] { email_->SetSMTPEHLO(false); }},
      {"SMTPUser", [&] { email_->SetSMTPUser("ann"); }, [&] { email_->SetSMTPUser("bob"); }},
      {"SMTPPass", [&] { email_->SetSMTPPass("smtp-secret-1"); }, [&] { email_->SetSMTPPass(""); }},
      {"SMTPSSL", [&] { email_->SetSMTPSSL(true); }, [&] { email_->SetSMTPSSL(false); }},
      {"SMTPUseTLS", [&] { email_->SetSMTPUseTLS(utUseExplicitTLS); },
       [&] { email_->SetSMTPUseTLS(utUseImplicitTLS); }},
      {"DefaultEncoding", [&] { email_->SetDefaultEncoding("UTF-8"); },
       [&] { email_->SetDefaultEncoding("Big5"); }},
      {"FTPServer", [&] { ftp_->SetFTPServer("ftp.example.org"); }, [&] { ftp_->SetFTPServer("y"); }},
      {"FTPUser", [&] { ftp_->SetFTPUser("bob"); }, [&] { ftp_->SetFTPUser("ann"); }},
      {"FTPPass", [&] { ftp_->SetFTPPass("ftp-secret-2"); }, [&] { ftp_->SetFTPPass("other"); }},
      {"FTPPort", [&] { ftp_->SetFTPPort(2121); }, [&] { ftp_->SetFTPPort(21); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.property);
    email_->SetModified(false);
    ftp_->SetModified(false);
    c.setSame();
    EXPECT_FALSE(email_->GetModified() || ftp_->GetModified());
    c.setOther();
    EXPECT_TRUE(email_->GetModified() || ftp_->GetModified());
    // A modified flag already set stays set when the same value comes again.
    c.setOther();
    EXPECT_TRUE(email_->GetModified() || ftp_->GetModified());
  }
}

TEST_F(InternetOptionsTest, PasswordsNeverReachTheFileInClear) {
  std::string tmpl = (fs::temp_directory_path() / "quillon-inet-XXXXXX").string();
  ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
  const fs::path path = fs::path(tmpl) / "options.xml";
  Fill();
  TMxOptionStore store;
  host_.Options().Save(*email_, store);
  store.Save(path.string());
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  EXPECT_EQ(text.str().find("smtp-secret-1"), std::string::npos);
  EXPECT_EQ(text.str().find("ftp-secret-2"), std::string::npos);
  EXPECT_THAT(text.str(), HasSubstr("<value key=\"FTPServer\">ftp.example.org</value>"));

  host::THost next(false);  // a later run reads them back
  RegisterEmailOptions();
  RegisterFTPOptions();
  TMxOptionStore loaded;
  loaded.Load(path.string());
  EXPECT_THAT(next.Options().LoadAll(loaded), IsEmpty());
  EXPECT_EQ(EmailOptions()->GetSMTPPass(), "smtp-secret-1");
  EXPECT_EQ(FTPOptions()->GetFTPPass(), "ftp-secret-2");
  EXPECT_EQ(EmailOptions()->GetSMTPUseTLS(), utUseExplicitTLS);
  fs::remove_all(tmpl);
}

TEST_F(InternetOptionsTest, DamagedPasswordLoadsEmptyWithAWarning) {
  TMxOptionStore store;
  auto w = store.Writer("Internet");
  w.WriteString("SMTPPass", "q1:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA");
  w.WriteString("SMTPHost", "still.loaded.org");
  std::vector<std::string> warnings;
  ASSERT_NO_THROW(warnings = host_.Options().LoadAll(store));
  ASSERT_THAT(warnings, ElementsAre(StartsWith("Email Options: SMTPPass: Cannot decrypt stored password")));
  EXPECT_EQ(email_->GetSMTPPass(), "");
  EXPECT_EQ(email_->GetSMTPHost(), "still.loaded.org");
}

TEST_F(InternetOptionsTest, PublishedPropertiesForTheCommandLine) {
  Fill();
  std::vector<std::string> listed;
  for (const auto& p : email_->GetOptionProperties()) listed.push_back(p.Name + ":" + p.Type + "=" + p.Value);
  EXPECT_THAT(listed, ElementsAre("SMTPHost:string=mail.example.org", "SMTPPort:integer=587",
                                  "SMTPAuth:Boolean=true", "SMTPEHLO:Boolean=true", "SMTPUser:string=ann",
                                  "SMTPPass:string=(set)", "SMTPSSL:Boolean=true",
                                  "SMTPUseTLS:TIdUseTLS=utUseExplicitTLS", "DefaultEncoding:string=UTF-8"));
  listed.clear();
  for (const auto& p : ftp_->GetOptionProperties()) listed.push_back(p.Name + "=" + p.Value);
  EXPECT_THAT(listed,
              ElementsAre("FTPServer=ftp.example.org", "FTPUser=bob", "FTPPass=(set)", "FTPPort=2121"));

  email_->SetModified(false);
  email_->SetOptionProperty("SMTPUseTLS", "1");
  EXPECT_EQ(email_->GetSMTPUseTLS(), utUseImplicitTLS);
  EXPECT_TRUE(email_->GetModified());
  ftp_->SetOptionProperty("FTPPass", "typed in clear");
  EXPECT_EQ(ftp_->GetFTPPass(), "typed in clear");
  EXPECT_THROW(ftp_->SetOptionProperty("FTPPort", "99999999999"), rtl::Exception);
  EXPECT_THROW(ftp_->SetOptionProperty("FTPPassword", "x"), rtl::Exception);  // the key, not the property
}

}  // namespace
}  // namespace mx
