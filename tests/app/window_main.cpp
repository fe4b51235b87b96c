// Entry of the Bundle window tests: the test thread is the program's main thread (hand-over, COM
// apartment, folder placeholders, translation table); errors that reach the application's
// handler fail the running test instead of showing a box.
#include <objbase.h>

#include <gtest/gtest.h>

#include "locale/translate.h"
#include "base/paths.h"
#include "base/sync.h"
#include "base/utf.h"
#include "widgets/application.h"

int main(int argc, char** argv) {
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  nimbrel::InitMainThread();
  nimbrel::InitPathVariables();
  nimbrel::LoadTranslation();
  nimbrel::Application().SetErrorSink(
      [](const std::wstring& Message) { ADD_FAILURE() << "error shown: " << nimbrel::WideToUtf8(Message); });
  testing::InitGoogleTest(&argc, argv);
  const int Result = RUN_ALL_TESTS();
  ::CoUninitialize();
  return Result;
}
