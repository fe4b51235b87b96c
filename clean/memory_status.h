// Physical-memory figures that the clean reports before and after.
#pragma once

#include <cstdint>

namespace nimbrel {

// Kind 0: total physical memory in bytes; kind 1: available physical memory; -1 for any other
// kind or when the figure cannot be had. Any thread.
std::int64_t GetMemoryValue(int Kind);
std::int64_t GetTotalMemory();
std::int64_t GetAvailMemory();

}  // namespace nimbrel
