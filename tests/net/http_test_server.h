// The addresses of the test server that tests/net/with-server.sh starts for a test program.
#pragma once

#include <cstdlib>
#include <string>

#include "base/utf.h"

namespace nimbrel::test {

// The environment variable's value; empty when it is not set.
inline std::wstring EnvText(const char* Name) {
  const char* Value = std::getenv(Name);
  return Value != nullptr ? Utf8ToWide(Value) : std::wstring();
}

// http://127.0.0.1:PORT/ followed by Path (no leading "/"); empty base when no server runs.
inline std::wstring ServerUrl(const std::wstring& Path = {}) {
  const std::wstring Base = EnvText("NIMBREL_TEST_SERVER");
  return Base.empty() ? Base : Base + Path;
}

}  // namespace nimbrel::test
