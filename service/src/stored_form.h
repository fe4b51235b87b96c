// What every store keeps of one report, computed once so that each store counts it the same way.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>

#include "report.h"

namespace nimbrel::service {

struct TStoredForm {
  std::string Body;  // StoredReportText of the report
  // Each startup entry once: its "from" and the file-name part of its item, both through LowerUtf8.
  std::set<std::pair<std::string, std::string>> Entries;
  // The bytes the storage cap counts: about what the store takes for the report and its entries,
  // indexes included.
  std::int64_t Size = 0;
};

TStoredForm MakeStoredForm(const TReport& Report);

}  // namespace nimbrel::service
