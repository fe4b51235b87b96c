// A program that imports a DLL which is not a known DLL, for the import-table test.
#include <windows.h>
#include <dwmapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  BOOL Enabled = FALSE;
  return SUCCEEDED(::DwmIsCompositionEnabled(&Enabled)) ? 0 : 1;
}
