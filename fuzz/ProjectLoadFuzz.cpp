// Feeds arbitrary bytes to the project loader: it must either load or raise EProjectError,
// never crash, hang or leak.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzKeyFile.h"
#include "host/MxHostActions.h"
#include "host/MxProject.h"
#include "host/MxServices.h"
#include "package/MxInternetActions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static host::THost* host = [] {
    fuzz::UseFixedKeyFile();  // stored passwords in the fuzzed projects
    auto* h = new host::THost(false);
    host::RegisterHostActions(*h);
    mx::MxRegister(*h);
    return h;
  }();
  std::string text(reinterpret_cast<const char*>(data), size);
  try {
    auto project = host::TProject::LoadFromString(text, "fuzz.xml", *host);
    (void)project->SaveToString();
  } catch (const host::EProjectError&) {
  }
  return 0;
}
