// Stands in for an uninstaller in tests: appends "TAG start" to a file, waits, appends "TAG end"
// and ends. With a registry path it first deletes that registration, as uninstallers do.
//   uninstaller_stub FILE TAG [WAIT_MS] [HKCU|HKLM SUBKEY-PATH]
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>

namespace {

void Record(const wchar_t* File, const wchar_t* Tag, const wchar_t* What) {
  FILE* Out = _wfopen(File, L"a, ccs=UTF-8");
  if (Out == nullptr) return;
  std::fwprintf(Out, L"%ls %ls\n", Tag, What);
  std::fclose(Out);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
  int Argc = 0;
  wchar_t** Argv = ::CommandLineToArgvW(::GetCommandLineW(), &Argc);
  if (Argv == nullptr || Argc < 3) return 2;
  Record(Argv[1], Argv[2], L"start");
  if (Argc >= 4) ::Sleep(static_cast<DWORD>(std::wcstoul(Argv[3], nullptr, 10)));
  if (Argc >= 6) {
    const HKEY Root = std::wcscmp(Argv[4], L"HKCU") == 0 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    ::RegDeleteTreeW(Root, Argv[5]);
  }
  Record(Argv[1], Argv[2], L"end");
  return 0;
}
