#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

// Every test program keeps its key file and option store inside the build tree, so a test
// run never reads or writes the user's own.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  namespace fs = std::filesystem;
  const char* tmp = std::getenv("QUILLON_TEST_TMP");
  fs::path base = tmp ? fs::path(tmp) : fs::temp_directory_path() / "quillon-tests";
  fs::create_directories(base);
  if (!std::getenv("QUILLON_KEY_FILE")) setenv("QUILLON_KEY_FILE", (base / "key").c_str(), 1);
  return RUN_ALL_TESTS();
}
