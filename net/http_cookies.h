// Cookies as a browser keeps them: parsed from Set-Cookie texts, stored per domain and path, and
// chosen for the requests they belong to. Pure logic; the client owns one store per instance.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nimbrel {

// What a request address contributes to cookie matching.
struct TCookieAddress {
  std::wstring Host;  // lower case
  std::wstring Path;  // begins with "/"; no query
  bool Secure = false;
};

struct TCookie {
  std::wstring Name, Value;
  std::wstring Domain;  // lower case, without a leading "."
  std::wstring Path;
  bool HostOnly = true;
  bool Secure = false;
  // Seconds since 1601 (UTC) after which the cookie is gone; nullopt for a session cookie.
  std::optional<std::int64_t> Expires;
};

// Now in seconds since 1601 (UTC).
std::int64_t CookieClockNow();

// The cookie of one Set-Cookie text received from Address at Now; nullopt when it has no name
// and no "=" or its Domain does not cover the host. An expiry in the past (Max-Age 0 or less, or
// an Expires date before Now) gives a cookie whose Expires is not after Now: storing it deletes.
// An Expires date that cannot be read is ignored (a session cookie).
std::optional<TCookie> ParseSetCookie(std::wstring_view Text, const TCookieAddress& Address, std::int64_t Now);

// Name and value of a Set-Cookie text, as the last response's cookies are listed ("a=1; Path=/"
// gives a and 1; a text without "=" is a value with an empty name).
std::pair<std::wstring, std::wstring> SetCookieNameValue(std::wstring_view Text);

class TCookieStore {
 public:
  // Adds Cookie, replacing one of the same name, domain and path; an expired one only removes.
  void Add(const TCookie& Cookie, std::int64_t Now);
  // The Cookie header for a request to Address: "name=value" pairs joined by "; ", longer paths
  // first; empty when no cookie matches.
  std::wstring HeaderFor(const TCookieAddress& Address, std::int64_t Now) const;
  [[nodiscard]] const std::vector<TCookie>& Cookies() const noexcept { return FCookies; }

 private:
  std::vector<TCookie> FCookies;
};

// Whether Domain (lower case) covers Host: the same, or Host ends with "." + Domain and Host is a
// name rather than an IPv4 address.
bool CookieDomainMatches(const std::wstring& Host, const std::wstring& Domain);
// Whether a cookie of CookiePath is sent with RequestPath.
bool CookiePathMatches(const std::wstring& RequestPath, const std::wstring& CookiePath);

}  // namespace nimbrel
