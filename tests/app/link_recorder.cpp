// Stands in for the browser in tests: appends the address it is given to a file.
//   link_recorder FILE ADDRESS
#include <cstdio>
#include <cwchar>

int wmain(int Argc, wchar_t** Argv) {
  if (Argc < 3) return 2;
  FILE* Out = _wfopen(Argv[1], L"a, ccs=UTF-8");
  if (Out == nullptr) return 1;
  std::fwprintf(Out, L"%ls\n", Argv[2]);
  std::fclose(Out);
  return 0;
}
