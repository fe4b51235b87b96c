// Components: objects owned by another component and freed with it, in creation order.
// Windows, controls, menus and helpers are all components, so a window can be walked
// (for translation) in the order its parts were made.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace nimbrel {

class TComponent {
 public:
  TComponent(TComponent* Owner, std::wstring Name);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  [[nodiscard]] TComponent* Owner() const noexcept { return FOwner; }
  [[nodiscard]] const std::wstring& Name() const noexcept { return FName; }
  // Owned components in the order they were created.
  [[nodiscard]] const std::vector<TComponent*>& Components() const noexcept { return FComponents; }

  // Creates a component owned by this one; it lives until this one is freed or it is freed
  // with FreeComponent. T's constructor takes the owner first.
  template <typename T, typename... Args>
  T* Create(Args&&... Arguments) {
    auto Owned = std::make_unique<T>(this, std::forward<Args>(Arguments)...);
    T* Result = Owned.get();
    FOwned.push_back(std::move(Owned));
    return Result;
  }
  // Frees a component that this one owns; nothing happens for any other.
  void FreeComponent(TComponent* Component);

  // Components with a user-visible caption (buttons, labels, windows, menu items) override these.
  [[nodiscard]] virtual bool HasCaption() const { return false; }
  [[nodiscard]] virtual std::wstring Caption() const { return {}; }
  virtual void SetCaption(const std::wstring& /*Caption*/) {}

 protected:
  // Frees every owned component, newest first. Derived destructors call it while their own
  // parts are still whole.
  void DestroyComponents() noexcept;

 private:
  TComponent* FOwner;
  std::wstring FName;
  std::vector<TComponent*> FComponents;
  std::vector<std::unique_ptr<TComponent>> FOwned;
};

}  // namespace nimbrel
