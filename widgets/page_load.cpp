// Painting a card before its page loads.
#include "widgets/page_load.h"

namespace nimbrel {

void PaintNow(HWND Window) noexcept {
  if (Window != nullptr)
    ::RedrawWindow(Window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

}  // namespace nimbrel
