// Component ownership.
#include "widgets/component.h"

#include <algorithm>

namespace nimbrel {

TComponent::TComponent(TComponent* Owner, std::wstring Name) : FOwner(Owner), FName(std::move(Name)) {
  if (FOwner != nullptr) FOwner->FComponents.push_back(this);
}

TComponent::~TComponent() {
  DestroyComponents();
  if (FOwner != nullptr) std::erase(FOwner->FComponents, this);
}

void TComponent::DestroyComponents() noexcept {
  while (!FOwned.empty()) {
    std::unique_ptr<TComponent> Last = std::move(FOwned.back());
    FOwned.pop_back();
    Last.reset();
  }
}

void TComponent::FreeComponent(TComponent* Component) {
  auto Found = std::find_if(FOwned.begin(), FOwned.end(),
                            [Component](const std::unique_ptr<TComponent>& Owned) { return Owned.get() == Component; });
  if (Found == FOwned.end()) return;
  std::unique_ptr<TComponent> Doomed = std::move(*Found);
  FOwned.erase(Found);
}

}  // namespace nimbrel
