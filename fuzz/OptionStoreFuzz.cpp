// Feeds arbitrary bytes to the option store and the option objects' load: a damaged store
// gives defaults and a warning, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzKeyFile.h"
#include "host/MxOptions.h"
#include "host/MxServices.h"
#include "package/MxInternetActions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static host::THost* host = [] {
    fuzz::UseFixedKeyFile();  // stored passwords in the fuzzed store
    auto* h = new host::THost(false);
    mx::MxRegister(*h);
    return h;
  }();
  // From the text, not a file: writing and reading one per input made the target spend most
  // of its time in system calls.
  host::TMxOptionStore store;
  store.LoadFromString(std::string(reinterpret_cast<const char*>(data), size), "fuzz.xml");
  host->Options().LoadAll(store);
  return 0;
}
