// The client's cookie store.
#include "net/http_cookies.h"

#include <windows.h>

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <tuple>

namespace nimbrel {

namespace {

std::wstring_view Trim(std::wstring_view Text) {
  while (!Text.empty() && (Text.front() == L' ' || Text.front() == L'\t')) Text.remove_prefix(1);
  while (!Text.empty() && (Text.back() == L' ' || Text.back() == L'\t')) Text.remove_suffix(1);
  return Text;
}

std::wstring Lower(std::wstring_view Text) {
  std::wstring Result(Text);
  for (wchar_t& C : Result)
    if (C >= L'A' && C <= L'Z') C = static_cast<wchar_t>(C + 32);
  return Result;
}

std::int64_t FileTimeSeconds(const FILETIME& Time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(Time.dwHighDateTime) << 32 | Time.dwLowDateTime) /
                                   10000000u);
}

// "h:m:s" at the start of a date token (digits, letters and ":"), each part one or two digits;
// what follows the seconds is ignored.
bool ReadClockTime(std::wstring_view Token, int& Hour, int& Minute, int& Second) {
  size_t I = 0;
  auto Part = [&](int& Value) {
    const size_t Start = I;
    Value = 0;
    while (I < Token.size() && I - Start < 2 && Token[I] >= L'0' && Token[I] <= L'9')
      Value = Value * 10 + (Token[I++] - L'0');
    return I > Start;
  };
  auto Colon = [&] { return I < Token.size() && Token[I++] == L':'; };
  return Part(Hour) && Colon() && Part(Minute) && Colon() && Part(Second);
}

// A cookie date as browsers read it: tokens of letters, digits and ":", taking the first time
// (h:m:s), day of month, month name and year in any order; two-digit years 70-99 are 19xx,
// 00-69 20xx. Seconds since 1601; nullopt when a part is missing or out of range.
std::optional<std::int64_t> ParseHttpDate(std::wstring_view Text) {
  static constexpr const wchar_t* Months[] = {L"jan", L"feb", L"mar", L"apr", L"may", L"jun",
                                              L"jul", L"aug", L"sep", L"oct", L"nov", L"dec"};
  std::optional<int> Day, Month, Year, Hour, Minute, Second;
  auto IsTokenChar = [](wchar_t C) { return (C >= L'0' && C <= L'9') || (C >= L'a' && C <= L'z') || (C >= L'A' && C <= L'Z') || C == L':'; };
  auto AllDigits = [](std::wstring_view Token) {
    return !Token.empty() && std::all_of(Token.begin(), Token.end(), [](wchar_t C) { return C >= L'0' && C <= L'9'; });
  };
  size_t Position = 0;
  while (Position < Text.size()) {
    while (Position < Text.size() && !IsTokenChar(Text[Position])) ++Position;
    size_t End = Position;
    while (End < Text.size() && IsTokenChar(Text[End])) ++End;
    const std::wstring_view Token = Text.substr(Position, End - Position);
    Position = End;
    if (Token.empty()) continue;
    if (!Hour && Token.find(L':') != std::wstring_view::npos) {
      int H = 0, M = 0, S = 0;
      if (ReadClockTime(Token, H, M, S)) {
        Hour = H;
        Minute = M;
        Second = S;
      }
    } else if (!Day && AllDigits(Token) && Token.size() <= 2) {
      Day = std::stoi(std::wstring(Token));
    } else if (!Month && Token.size() >= 3) {
      const std::wstring Name = Lower(Token.substr(0, 3));
      for (int I = 0; I < 12; ++I)
        if (Name == Months[I]) Month = I + 1;
    } else if (!Year && AllDigits(Token) && Token.size() <= 4) {
      Year = std::stoi(std::wstring(Token));
    }
  }
  if (!Day || !Month || !Year || !Hour) return std::nullopt;
  if (*Year >= 70 && *Year <= 99) *Year += 1900;
  else if (*Year < 70) *Year += 2000;
  if (*Day < 1 || *Day > 31 || *Year < 1601 || *Hour > 23 || *Minute > 59 || *Second > 59) return std::nullopt;
  SYSTEMTIME System{};
  System.wYear = static_cast<WORD>(*Year);
  System.wMonth = static_cast<WORD>(*Month);
  System.wDay = static_cast<WORD>(*Day);
  System.wHour = static_cast<WORD>(*Hour);
  System.wMinute = static_cast<WORD>(*Minute);
  System.wSecond = static_cast<WORD>(*Second);
  FILETIME File{};
  if (!::SystemTimeToFileTime(&System, &File)) return std::nullopt;
  return FileTimeSeconds(File);
}

// The default path of a cookie: the request path up to (not including) its last "/".
std::wstring DefaultPath(const std::wstring& RequestPath) {
  if (RequestPath.empty() || RequestPath.front() != L'/') return L"/";
  const size_t Last = RequestPath.rfind(L'/');
  return Last == 0 ? L"/" : RequestPath.substr(0, Last);
}

bool IsIpv4(const std::wstring& Host) {
  return !Host.empty() && std::all_of(Host.begin(), Host.end(), [](wchar_t C) { return (C >= L'0' && C <= L'9') || C == L'.'; });
}

bool Expired(const TCookie& Cookie, std::int64_t Now) { return Cookie.Expires && *Cookie.Expires <= Now; }

}  // namespace

std::int64_t CookieClockNow() {
  FILETIME Now{};
  ::GetSystemTimeAsFileTime(&Now);
  return FileTimeSeconds(Now);
}

std::pair<std::wstring, std::wstring> SetCookieNameValue(std::wstring_view Text) {
  const std::wstring_view Pair = Text.substr(0, Text.find(L';'));
  const size_t Equals = Pair.find(L'=');
  if (Equals == std::wstring_view::npos) return {L"", std::wstring(Trim(Pair))};
  return {std::wstring(Trim(Pair.substr(0, Equals))), std::wstring(Trim(Pair.substr(Equals + 1)))};
}

bool CookieDomainMatches(const std::wstring& Host, const std::wstring& Domain) {
  if (Host == Domain) return true;
  if (IsIpv4(Host) || Domain.empty() || Host.size() <= Domain.size()) return false;
  return Host.compare(Host.size() - Domain.size(), Domain.size(), Domain) == 0 &&
         Host[Host.size() - Domain.size() - 1] == L'.';
}

bool CookiePathMatches(const std::wstring& RequestPath, const std::wstring& CookiePath) {
  if (RequestPath == CookiePath) return true;
  if (RequestPath.compare(0, CookiePath.size(), CookiePath) != 0) return false;
  return !CookiePath.empty() && (CookiePath.back() == L'/' || RequestPath[CookiePath.size()] == L'/');
}

std::optional<TCookie> ParseSetCookie(std::wstring_view Text, const TCookieAddress& Address, std::int64_t Now) {
  const size_t FirstSemicolon = Text.find(L';');
  const std::wstring_view Pair = Text.substr(0, FirstSemicolon);
  if (Trim(Pair).empty()) return std::nullopt;
  TCookie Cookie;
  std::tie(Cookie.Name, Cookie.Value) = SetCookieNameValue(Text);
  Cookie.Domain = Address.Host;
  Cookie.Path = DefaultPath(Address.Path);
  std::optional<std::int64_t> MaxAge;
  std::optional<std::int64_t> Expires;
  size_t Start = FirstSemicolon;
  while (Start != std::wstring_view::npos) {
    const size_t End = Text.find(L';', Start + 1);
    const std::wstring_view Attribute = Trim(Text.substr(Start + 1, End == std::wstring_view::npos ? End : End - Start - 1));
    const size_t Equals = Attribute.find(L'=');
    const std::wstring Name = Lower(Trim(Attribute.substr(0, Equals)));
    const std::wstring_view Value = Equals == std::wstring_view::npos ? std::wstring_view{} : Trim(Attribute.substr(Equals + 1));
    if (Name == L"domain" && !Value.empty()) {
      std::wstring Domain = Lower(Value);
      if (Domain.front() == L'.') Domain.erase(0, 1);
      if (!CookieDomainMatches(Address.Host, Domain)) return std::nullopt;
      Cookie.Domain = Domain;
      Cookie.HostOnly = false;
    } else if (Name == L"path" && !Value.empty() && Value.front() == L'/') {
      Cookie.Path = Value;
    } else if (Name == L"secure") {
      Cookie.Secure = true;
    } else if (Name == L"max-age" && !Value.empty()) {
      try {
        MaxAge = std::stoll(std::wstring(Value));
      } catch (const std::out_of_range&) {
        // Too many digits: as long or as short a life as there can be.
        MaxAge = Value.front() == L'-' ? std::numeric_limits<std::int64_t>::min()
                                        : std::numeric_limits<std::int64_t>::max();
      } catch (...) {
        // An unreadable Max-Age is ignored, as browsers do.
      }
    } else if (Name == L"expires") {
      Expires = ParseHttpDate(Value);
    }
    Start = End;
  }
  if (MaxAge) {
    // A huge Max-Age lives until the end of the clock rather than wrapping round into the past.
    constexpr std::int64_t Last = std::numeric_limits<std::int64_t>::max();
    Cookie.Expires = *MaxAge <= 0 ? Now - 1 : (*MaxAge > Last - Now ? Last : Now + *MaxAge);
  } else if (Expires) {
    Cookie.Expires = *Expires;
  }
  return Cookie;
}

void TCookieStore::Add(const TCookie& Cookie, std::int64_t Now) {
  std::erase_if(FCookies, [&](const TCookie& Old) {
    return Expired(Old, Now) ||
           (Old.Name == Cookie.Name && Old.Domain == Cookie.Domain && Old.Path == Cookie.Path);
  });
  if (!Expired(Cookie, Now)) FCookies.push_back(Cookie);
}

std::wstring TCookieStore::HeaderFor(const TCookieAddress& Address, std::int64_t Now) const {
  std::vector<const TCookie*> Chosen;
  for (const TCookie& Cookie : FCookies) {
    if (Expired(Cookie, Now) || (Cookie.Secure && !Address.Secure)) continue;
    if (Cookie.HostOnly ? Cookie.Domain != Address.Host : !CookieDomainMatches(Address.Host, Cookie.Domain)) continue;
    if (!CookiePathMatches(Address.Path, Cookie.Path)) continue;
    Chosen.push_back(&Cookie);
  }
  std::stable_sort(Chosen.begin(), Chosen.end(),
                   [](const TCookie* A, const TCookie* B) { return A->Path.size() > B->Path.size(); });
  std::wstring Header;
  for (const TCookie* Cookie : Chosen) {
    if (!Header.empty()) Header += L"; ";
    Header += Cookie->Name.empty() ? Cookie->Value : Cookie->Name + L"=" + Cookie->Value;
  }
  return Header;
}

}  // namespace nimbrel
