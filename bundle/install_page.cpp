// The Bundle card's page. The program list itself is still to come.
#include "bundle/install_page.h"

namespace nimbrel {

TFrmInstall::TFrmInstall(TComponent* Owner, TControl* Parent) : TPanel(Owner, Parent, L"FrmInstall") {
  if (Parent != nullptr) SetBounds(0, 0, Parent->Bounds().Width, Parent->Bounds().Height);
}

void TFrmInstall::LoadInstall() { ++FLoadCount; }

}  // namespace nimbrel
