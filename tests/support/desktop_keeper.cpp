// Keeps the test prefix's desktop open for the whole run. Wine closes a desktop, and ends its
// explorer.exe, a moment after the last program using it ends; the next program with a window
// then starts a new explorer.exe: that program waits seconds for it, and the new shell comes up
// while the program's test is already talking to it. With this program attached from the start
// to the end of the run, the desktop and its shell are started once, before any test, and stay.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  if (::GetDesktopWindow() == nullptr) return 1;
  ::Sleep(INFINITE);
  return 0;
}
