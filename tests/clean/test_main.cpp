// Entry of the clean test programs: the test thread is the main thread of the hand-over, and
// the folder placeholders are built as at program start.
#include "base/paths.h"
#include "base/sync.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  nimbrel::InitMainThread();
  nimbrel::InitPathVariables();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
