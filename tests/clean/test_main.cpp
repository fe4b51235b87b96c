// Entry of the clean test programs: the test thread is the main thread of the hand-over.
#include "base/sync.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  nimbrel::InitMainThread();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
