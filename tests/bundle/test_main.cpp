// Entry of the Bundle test programs: the test thread is the main thread of the hand-over and a
// COM apartment for the shell, as in the program.
#include <objbase.h>

#include <gtest/gtest.h>

#include "base/paths.h"
#include "base/sync.h"

int main(int argc, char** argv) {
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  nimbrel::InitMainThread();
  nimbrel::InitPathVariables();
  testing::InitGoogleTest(&argc, argv);
  const int Result = RUN_ALL_TESTS();
  ::CoUninitialize();
  return Result;
}
