// Cutting a value out of a text from between two markers.
#include <algorithm>

#include "base/ascii.h"
#include "base/text.h"

namespace nimbrel {
namespace {

// Turns each escaped quote of Search (a quote after an odd number of backslashes in Source)
// into a backslash, so that no marker search takes it for a quote. Lengths stay the same.
void HideEscapedQuotes(const std::wstring& Source, wchar_t Quote, std::wstring& Search) {
  size_t Backslashes = 0;
  for (size_t I = 0; I < Source.size(); ++I) {
    if (Source[I] == Quote && Backslashes % 2 == 1) Search[I] = L'\\';
    Backslashes = Source[I] == L'\\' ? Backslashes + 1 : 0;
  }
}

}  // namespace

std::wstring ExtractBetween(const std::wstring& Source, const std::wstring& Start, const std::wstring& End,
                            bool Keep) {
  std::wstring Search = AsciiUpper(Source);
  const std::wstring StartUpper = AsciiUpper(Start);
  const std::wstring EndUpper = AsciiUpper(End);
  if (End == L"\"" || End == L"'") HideEscapedQuotes(Source, End[0], Search);

  size_t Begin = 0;
  if (!StartUpper.empty()) {
    const size_t Found = Search.find(StartUpper);
    if (Found == std::wstring::npos) return {};
    Begin = Found + StartUpper.size();
  }
  size_t Finish = Source.size();
  if (!EndUpper.empty()) {
    Finish = Search.find(EndUpper, Begin);
    if (Finish == std::wstring::npos) return {};
  }
  std::wstring Result = Source.substr(Begin, Finish - Begin);
  const bool Blank = std::none_of(Result.begin(), Result.end(), [](wchar_t C) { return C > L' '; });
  if (Keep && !Blank) return Start + Result + End;
  return Result;
}

}  // namespace nimbrel
