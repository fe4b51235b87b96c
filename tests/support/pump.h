// Test support: lets the test's windows run (timers, posted hand-overs, paints) for a while.
// Main thread only.
#pragma once

#include <windows.h>

#include "widgets/application.h"

namespace nimbrel::test {

inline void Pump(DWORD Milliseconds = 50) {
  const ULONGLONG Until = ::GetTickCount64() + Milliseconds;
  do {
    Application().ProcessMessages();
    ::Sleep(5);
  } while (::GetTickCount64() < Until);
}

}  // namespace nimbrel::test
