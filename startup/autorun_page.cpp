// The Startup card's page. The entry list itself is still to come.
#include "startup/autorun_page.h"

namespace nimbrel {

TFrmAutorun::TFrmAutorun(TComponent* Owner, TControl* Parent) : TPanel(Owner, Parent, L"FrmAutorun") {
  if (Parent != nullptr) SetBounds(0, 0, Parent->Bounds().Width, Parent->Bounds().Height);
}

void TFrmAutorun::LoadAutorun() { ++FLoadCount; }

}  // namespace nimbrel
