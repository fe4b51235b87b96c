// Entry of the Bundle test programs: the test thread is the main thread of the hand-over; its COM
// apartment starts when something needs it, as in the program.
#include <gtest/gtest.h>

#include "base/paths.h"
#include "base/sync.h"

int main(int argc, char** argv) {
  nimbrel::InitMainThread();
  nimbrel::InitPathVariables();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
