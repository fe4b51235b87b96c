// The clean report. Until the upload exists, no report is sent and there is no key.
#include "clean/clean_report.h"

namespace nimbrel {

std::wstring BuildAndSendReport(const TCleanJobData&) { return {}; }

}  // namespace nimbrel
