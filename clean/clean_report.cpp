// The clean report.
#include "clean/clean_report.h"

#include "base/text.h"
#include "clean/memory_status.h"
#include "net/endpoints.h"
#include "net/web_request.h"

namespace nimbrel {

namespace {

bool IsHighSurrogate(wchar_t C) { return C >= 0xD800 && C <= 0xDBFF; }
bool IsLowSurrogate(wchar_t C) { return C >= 0xDC00 && C <= 0xDFFF; }

// Windows names may hold unpaired surrogates; escaped alone they make strict JSON readers refuse
// the whole report, so each becomes U+FFFD. Pairs stay as they are.
std::wstring WithoutLoneSurrogates(const std::wstring& Text) {
  std::wstring Out = Text;
  for (size_t I = 0; I < Out.size(); ++I) {
    if (IsHighSurrogate(Out[I]) && I + 1 < Out.size() && IsLowSurrogate(Out[I + 1])) {
      ++I;
    } else if (IsHighSurrogate(Out[I]) || IsLowSurrogate(Out[I])) {
      Out[I] = L'\xFFFD';
    }
  }
  return Out;
}

// "key":"value" with the value escaped.
std::wstring Member(const wchar_t* Key, const std::wstring& Value) {
  return std::wstring(L"\"") + Key + L"\":\"" + JsonEscape(WithoutLoneSurrogates(Value)) + L"\"";
}

}  // namespace

std::wstring MemoryObject(std::int64_t OldAvail, std::int64_t NewAvail, std::int64_t Total) {
  return L"{" + Member(L"cate", L"memory") + L"," + Member(L"old", std::to_wstring(OldAvail)) + L"," +
         Member(L"new", std::to_wstring(NewAvail)) + L"," + Member(L"tot", std::to_wstring(Total)) + L"}";
}

std::wstring CleanObject(const TProcessInfo& Info, const std::vector<TPathVariable>& Table) {
  return L"{" + Member(L"cate", L"clean") + L"," + Member(L"file", ContractPathVars(Info.FileName, Table)) + L"," +
         Member(L"state", std::to_wstring(Info.State)) + L"}";
}

std::wstring StartObject(const std::wstring& Target, const std::wstring& From) {
  return L"{" + Member(L"cate", L"start") + L"," + Member(L"item", Target) + L"," + Member(L"from", From) + L"}";
}

std::wstring InstallObject(const std::wstring& DisplayName, const std::wstring& Publisher) {
  return L"{" + Member(L"cate", L"install") + L"," + Member(L"displayname", DisplayName) + L"," +
         Member(L"publisher", Publisher) + L"}";
}

std::vector<std::wstring> ReportObjects(const TCleanJobData& Data, std::int64_t NewAvail, std::int64_t Total,
                                        const std::vector<TPathVariable>& Table) {
  std::vector<std::wstring> Objects;
  Objects.push_back(MemoryObject(Data.OldAvailMemory, NewAvail, Total));
  if (Data.Processes) {
    for (const TProcessInfo& Info : *Data.Processes) Objects.push_back(CleanObject(Info, Table));
  }
  if (Data.Autorun) {
    for (const TAutorunInfo& Entry : *Data.Autorun) Objects.push_back(StartObject(Entry.Target, Entry.From));
  }
  if (Data.Install) {
    for (const TInstallInfo& Program : *Data.Install)
      Objects.push_back(InstallObject(Program.DisplayName, Program.Publisher));
  }
  return Objects;
}

std::wstring ReportBody(const std::vector<std::wstring>& Objects) {
  std::wstring Body = L"[";
  for (size_t I = 0; I < Objects.size(); ++I) {
    if (I > 0) Body += L',';
    Body += Objects[I];
  }
  return Body + L"]";
}

std::wstring ReportKey(const std::wstring& Answer) { return ExtractBetween(Answer, L"\"pk\":\"", L"\"", false); }

std::wstring SendReport(const std::wstring& Url, const TCleanJobData& Data) {
  const std::wstring Body = ReportBody(ReportObjects(Data, GetAvailMemory(), GetTotalMemory(), PathVariables()));
  const std::wstring Answer = WebRequest(Url, Body, Data.Stop);
  if (!WaitUnlessStopped(Data.Stop, 0)) return {};
  return ReportKey(Answer);
}

std::wstring BuildAndSendReport(const TCleanJobData& Data) { return SendReport(ReportUrl(), Data); }

}  // namespace nimbrel
