// Every address the program sends to or opens, built in one place. The two base addresses are
// build configuration (NIMBREL_SERVICE_URL, NIMBREL_LINK_URL).
#pragma once

#include <string>

namespace nimbrel {

// The web service's base address, ending with "/".
std::wstring ServiceBaseUrl();
// The link host's base address, without a trailing "/".
std::wstring LinkBaseUrl();

// Start-up check and hold request (GET).
std::wstring InitCheckUrl();
// Clean report upload (POST).
std::wstring ReportUrl();
// The report page for a report key, opened in the browser; the key is percent-encoded.
std::wstring ReportPageUrl(const std::wstring& Key);
// The information page of an autostart entry: From is lower-cased (A-Z only), Target is cut to
// its file name (the part after the last backslash or colon); both parts are percent-encoded as
// UTF-8 (PercentEncode), so no blank or quote of an entry's name reaches the browser's command line.
std::wstring EntryPageUrl(const std::wstring& From, const std::wstring& Target);
// The maker's home link, opened by the logo.
std::wstring HomeLinkUrl();

}  // namespace nimbrel
