// The four stock pictures of the list pages, drawn by this program at any size: a blank
// document, a cluster of blue cubes (the registry), a clock face and gear wheels.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "base/handle.h"

namespace nimbrel {

enum class TStockImage { Document = 0, Registry = 1, Clock = 2, Gears = 3 };
inline constexpr int StockImageCount = 4;

// Size x Size ARGB pixels (straight alpha), top row first.
std::vector<uint32_t> DrawStockImage(TStockImage Image, int Size);
// The picture as an icon; empty when the system cannot make one.
TOwnedIcon MakeStockIcon(TStockImage Image, int Size);

}  // namespace nimbrel
