// Entry of the Bundle window tests: the test thread is the program's main thread (hand-over,
// folder placeholders, translation table; its COM apartment starts when something needs it, as in
// the program); errors that reach the application's handler fail the running test instead of
// showing a box.
#include <gtest/gtest.h>

#include "locale/translate.h"
#include "base/paths.h"
#include "base/sync.h"
#include "base/utf.h"
#include "widgets/application.h"

int main(int argc, char** argv) {
  nimbrel::InitMainThread();
  nimbrel::InitPathVariables();
  nimbrel::LoadTranslation();
  nimbrel::Application().SetErrorSink(
      [](const std::wstring& Message) { ADD_FAILURE() << "error shown: " << nimbrel::WideToUtf8(Message); });
  testing::InitGoogleTest(&argc, argv);
  const int Result = RUN_ALL_TESTS();
  return Result;
}
