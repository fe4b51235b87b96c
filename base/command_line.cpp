// Splitting command lines into program and arguments, and finding the file an autostart
// command runs or loads.
#include <algorithm>

#include "base/ascii.h"
#include "base/paths.h"

namespace nimbrel {
namespace {

// The library in rundll32.exe's arguments: the quoted text, else all of it, up to a comma.
std::wstring RundllLibrary(const std::wstring& Arguments) {
  std::wstring Library = TrimBlanks(Arguments);
  if (!Library.empty() && Library[0] == L'"') {
    const size_t Closing = Library.find(L'"', 1);
    Library = Closing == std::wstring::npos ? std::wstring() : Library.substr(1, Closing - 1);
  }
  const size_t Comma = Library.find(L',');
  if (Comma != std::wstring::npos) Library.resize(Comma);
  return Library;
}

// Each pair of backslashes becomes one, left to right; a leading pair (a network or device
// path) stays.
std::wstring SingleBackslashes(const std::wstring& Path) {
  std::wstring Result;
  Result.reserve(Path.size());
  size_t I = 0;
  if (Path.starts_with(L"\\\\")) {
    Result = L"\\\\";
    I = 2;
  }
  while (I < Path.size()) {
    Result += Path[I];
    I += Path[I] == L'\\' && I + 1 < Path.size() && Path[I + 1] == L'\\' ? 2 : 1;
  }
  return Result;
}

}  // namespace

TCommandLineParts SplitCommandLine(const std::wstring& CommandLine) {
  TCommandLineParts Parts;
  const std::wstring Line = TrimBlanks(CommandLine);
  if (Line.empty()) return Parts;

  if (Line[0] == L'"') {
    const size_t Closing = Line.find(L'"', 1);
    if (Closing == std::wstring::npos) {
      Parts.Path = Line.substr(1);
    } else {
      Parts.Path = TrimBlanks(Line.substr(1, Closing - 1));
      Parts.Arguments = TrimBlanks(Line.substr(Closing + 1));
    }
    return Parts;
  }

  const std::wstring Upper = AsciiUpper(Line);
  size_t Extension = std::wstring::npos;
  for (const wchar_t* Candidate : {L".EXE", L".BAT", L".COM", L".CMD", L".MSI"}) {
    Extension = std::min(Extension, Upper.find(Candidate));
  }
  if (Extension != std::wstring::npos) {
    Parts.Path = TrimBlanks(Line.substr(0, Extension + 4));
    Parts.Arguments = TrimBlanks(Line.substr(Extension + 4));
    return Parts;
  }

  const size_t Blank = Line.find(L' ');
  if (Blank == std::wstring::npos) {
    Parts.Path = Line;
  } else {
    Parts.Path = TrimBlanks(Line.substr(0, Blank));
    Parts.Arguments = TrimBlanks(Line.substr(Blank + 1));
  }
  return Parts;
}

std::wstring ExtractCommandPath(const std::wstring& CommandLine) {
  const bool NtPrefix = CommandLine.starts_with(L"\\??\\");
  TCommandLineParts Parts = SplitCommandLine(NtPrefix ? CommandLine.substr(4) : CommandLine);
  if (SameTextAscii(FileNamePart(Parts.Path, L"\\:"), L"rundll32.exe") && !Parts.Arguments.empty()) {
    Parts.Path = RundllLibrary(Parts.Arguments);
  }
  return SingleBackslashes(ExpandPathVars(Parts.Path));
}

}  // namespace nimbrel
