// GetInstall: a fresh read of the four uninstall registrations.
#include "bundle/inventory.h"

#include "bundle/install_snapshot.h"

namespace nimbrel {

void GetInstall(TInstallList& List) {
  TInstallSnapshot Snapshot;
  Snapshot.Reload();
  Snapshot.Build(List);
}

}  // namespace nimbrel
