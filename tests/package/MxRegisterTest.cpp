#include <gtest/gtest.h>

#include "host/MxOptions.h"
#include "host/MxServices.h"
#include "package/MxInternetActions.h"

namespace {

using host::TRegistration;

// Counts the registrar's question, as the package must ask it before each group.
class TCountingRegistrar final : public host::IMxRegistrar {
 public:
  explicit TCountingRegistrar(bool design) : design_(design) {}
  bool IsDesignEnvironment() override {
    ++asked;
    return design_;
  }
  int asked = 0;

 private:
  bool design_;
};

std::vector<TRegistration> Register(bool design, int* asked = nullptr) {
  host::THost host(design);
  TCountingRegistrar registrar(design);
  mx::MxRegister(registrar);
  if (asked) *asked = registrar.asked;
  return host.Registrations();
}

TEST(MxRegister, RunOnlyHostGetsOptionsButNoPages) {
  int asked = 0;
  auto regs = Register(false, &asked);
  const std::vector<TRegistration> expected = {
      {"Options", "RegisterOptions", {"TMxEmailOptions", "MxEMAIL"}},
      {"Options", "RegisterOptions", {"TMxFTPOptions", "HINTERNET"}},
  };
  EXPECT_EQ(regs, expected);
  EXPECT_EQ(asked, 3);
}

TEST(MxRegister, DesignHostAlsoGetsTheOptionPagesLast) {
  auto regs = Register(true);
  const std::vector<TRegistration> expected = {
      {"Options", "RegisterOptions", {"TMxEmailOptions", "MxEMAIL"}},
      {"Options", "RegisterOptions", {"TMxFTPOptions", "HINTERNET"}},
      {"Options", "RegisterOptionPages", {"TMxEmailOptions", "TEmailGlobalOptionsFrame"}},
      {"Options", "RegisterOptionPages", {"TMxFTPOptions", "TFTPGlobalOptionsFrame"}},
  };
  EXPECT_EQ(regs, expected);
}

TEST(MxRegister, LiveOptionObjectsAreFoundByNameAndCategory) {
  host::THost host(false);
  mx::MxRegister(host);
  ASSERT_NE(host.Options().GetOptions("Email Options", "Internet"), nullptr);
  ASSERT_NE(host.Options().GetOptions("FTP Options", "Internet"), nullptr);
  EXPECT_EQ(host.Options().GetOptions("Email Options", "Other"), nullptr);
}

}  // namespace
