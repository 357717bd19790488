// Feeds arbitrary bytes to the option store and the option objects' load: a damaged store
// gives defaults and a warning, never a crash.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
  static const std::string path = "/tmp/quillon-fuzz-options-" + std::to_string(::getpid()) + ".xml";
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  host::TMxOptionStore store;
  store.Load(path);
  host->Options().LoadAll(store);
  return 0;
}
