// Memory figures from GlobalMemoryStatusEx, with GlobalMemoryStatus as the fallback.
#include "clean/memory_status.h"

#include <windows.h>

namespace nimbrel {

std::int64_t GetMemoryValue(int Kind) {
  if (Kind != 0 && Kind != 1) return -1;
  MEMORYSTATUSEX Status{};
  Status.dwLength = sizeof(Status);
  if (::GlobalMemoryStatusEx(&Status))
    return static_cast<std::int64_t>(Kind == 0 ? Status.ullTotalPhys : Status.ullAvailPhys);
  MEMORYSTATUS Old{};
  Old.dwLength = sizeof(Old);
  ::GlobalMemoryStatus(&Old);
  return static_cast<std::int64_t>(Kind == 0 ? Old.dwTotalPhys : Old.dwAvailPhys);
}

std::int64_t GetTotalMemory() { return GetMemoryValue(0); }
std::int64_t GetAvailMemory() { return GetMemoryValue(1); }

}  // namespace nimbrel
