// Runs a fuzz target once over every file of the folders (or files) named, without libFuzzer:
// the build without clang still proves that each seed and kept reproducer goes through cleanly.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg(argv[i]);
    if (fs::is_directory(arg)) {
      for (const fs::directory_entry& e : fs::directory_iterator(arg))
        if (e.is_regular_file()) inputs.push_back(e.path());
    } else {
      inputs.push_back(arg);
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "usage: %s CORPUS-FOLDER-OR-FILE...: no inputs found\n", argv[0]);
    return 2;
  }
  for (const fs::path& p : inputs) {
    std::ifstream in(p, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      std::fprintf(stderr, "cannot read %s\n", p.c_str());
      return 2;
    }
    // Empty inputs included: libFuzzer's own run starts with one.
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs ran\n", inputs.size());
  return 0;
}
