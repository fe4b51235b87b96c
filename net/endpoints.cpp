// Endpoint addresses.
#include "net/endpoints.h"

#include "base/ascii.h"
#include "base/text.h"
#include "base/utf.h"

#ifndef NIMBREL_SERVICE_URL
#error "NIMBREL_SERVICE_URL must be defined by the build"
#endif
#ifndef NIMBREL_LINK_URL
#error "NIMBREL_LINK_URL must be defined by the build"
#endif

namespace nimbrel {

std::wstring ServiceBaseUrl() {
  std::wstring Url = Utf8ToWide(NIMBREL_SERVICE_URL);
  if (Url.empty() || Url.back() != L'/') Url += L'/';
  return Url;
}

std::wstring LinkBaseUrl() {
  std::wstring Url = Utf8ToWide(NIMBREL_LINK_URL);
  while (!Url.empty() && Url.back() == L'/') Url.pop_back();
  return Url;
}

std::wstring InitCheckUrl() { return ServiceBaseUrl() + L"api.init.php"; }

std::wstring ReportUrl() { return ServiceBaseUrl() + L"report.php"; }

std::wstring ReportPageUrl(const std::wstring& Key) { return ServiceBaseUrl() + L"?report=" + PercentEncode(Key); }

std::wstring EntryPageUrl(const std::wstring& From, const std::wstring& Target) {
  std::wstring Source = From;
  for (wchar_t& C : Source) {
    if (C >= L'A' && C <= L'Z') C = static_cast<wchar_t>(C - L'A' + L'a');
  }
  const std::wstring_view FileName = FileNamePart(Target, L"\\:");
  return ServiceBaseUrl() + L"entry/" + PercentEncode(Source) + L"/" + PercentEncode(FileName);
}

std::wstring HomeLinkUrl() { return LinkBaseUrl() + L"/nimbrel"; }

}  // namespace nimbrel
