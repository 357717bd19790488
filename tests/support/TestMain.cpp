#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/ServerProcess.h"

// Every test program keeps its key file and option store in the tests' scratch folder, so a
// test run never reads or writes the user's own.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const auto base = testsupport::TestTmpBase();
  if (!std::getenv("QUILLON_KEY_FILE")) setenv("QUILLON_KEY_FILE", (base / "key").c_str(), 1);
  return RUN_ALL_TESTS();
}
