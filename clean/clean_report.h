// The report of a finished clean: built from the job's data and sent to the web service.
#pragma once

#include "clean/clean_job.h"

#include <string>

namespace nimbrel {

// Worker thread. Builds the report of Data and sends it; answers the report key that opens the
// report page, empty when there is none. The upload does not exist yet: the key is always empty.
std::wstring BuildAndSendReport(const TCleanJobData& Data);

}  // namespace nimbrel
