// The report of a finished clean: a JSON array of flat objects, every value a JSON string, built
// from the job's data and sent to the web service, whose answer carries the report key.
#pragma once

#include "base/paths.h"
#include "clean/clean_job.h"

#include <cstdint>
#include <string>
#include <vector>

namespace nimbrel {

// {"cate":"memory","old":"…","new":"…","tot":"…"}: bytes as signed decimals (-1 when unknown).
std::wstring MemoryObject(std::int64_t OldAvail, std::int64_t NewAvail, std::int64_t Total);
// {"cate":"clean","file":"…","state":"…"}: the path shortened by ContractPathVars with Table,
// then escaped; State as a signed decimal.
std::wstring CleanObject(const TProcessInfo& Info, const std::vector<TPathVariable>& Table);
// {"cate":"start","item":"…","from":"…"}: an autostart entry's Target and From, escaped.
std::wstring StartObject(const std::wstring& Target, const std::wstring& From);
// {"cate":"install","displayname":"…","publisher":"…"}: an installed program, escaped.
std::wstring InstallObject(const std::wstring& DisplayName, const std::wstring& Publisher);

// The objects of the report, in order: the memory object, one clean object per process in table
// order, then (only for the pages opened during this run, from the copies the window handed over)
// one start object per autostart entry and one install object per installed program.
std::vector<std::wstring> ReportObjects(const TCleanJobData& Data, std::int64_t NewAvail, std::int64_t Total,
                                        const std::vector<TPathVariable>& Table);
// "[" + the objects joined by "," + "]"; pure ASCII, since every value is escaped.
std::wstring ReportBody(const std::vector<std::wstring>& Objects);

// The report key in a service answer: the value of its first "pk" member (name matched in any
// letter case), not unescaped; empty when there is none.
std::wstring ReportKey(const std::wstring& Answer);

// Worker thread. Builds the report of Data with the memory figures of now, posts it to Url
// (WebRequest, cancelled by Data.Stop) and answers the key; empty when the upload fails, the
// answer has no key, or the clean is told to stop.
std::wstring SendReport(const std::wstring& Url, const TCleanJobData& Data);
// SendReport to the web service's report address.
std::wstring BuildAndSendReport(const TCleanJobData& Data);

}  // namespace nimbrel
