// Owners for operating-system handles: one template, one alias per kind.
// Copying is impossible; moving hands the handle over; the destructor closes it.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <utility>

#include "base/system_api.h"

namespace nimbrel {

// Traits for a handle whose only invalid value is nullptr.
template <typename T, auto CloseFn>
struct TNullHandleTraits {
  using pointer = T;
  static constexpr T Invalid() noexcept { return nullptr; }
  static bool IsValid(T Value) noexcept { return Value != nullptr; }
  static void Close(T Value) noexcept { CloseFn(Value); }
};

// Kernel handles have two invalid values: nullptr and INVALID_HANDLE_VALUE.
struct TKernelHandleTraits {
  using pointer = HANDLE;
  static HANDLE Invalid() noexcept { return nullptr; }
  static bool IsValid(HANDLE Value) noexcept { return Value != nullptr && Value != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE Value) noexcept { ::CloseHandle(Value); }
};

template <typename Traits>
class TOwned {
 public:
  using pointer = typename Traits::pointer;

  TOwned() noexcept = default;
  explicit TOwned(pointer Value) noexcept : FValue(Value) {}
  ~TOwned() { reset(); }

  TOwned(const TOwned&) = delete;
  TOwned& operator=(const TOwned&) = delete;
  TOwned(TOwned&& Other) noexcept : FValue(Other.release()) {}
  TOwned& operator=(TOwned&& Other) noexcept {
    if (this != &Other) reset(Other.release());
    return *this;
  }

  [[nodiscard]] pointer get() const noexcept { return FValue; }
  [[nodiscard]] bool valid() const noexcept { return Traits::IsValid(FValue); }
  explicit operator bool() const noexcept { return valid(); }

  // Closes the held handle (if any) and takes Value.
  void reset(pointer Value = Traits::Invalid()) noexcept {
    pointer Old = std::exchange(FValue, Value);
    if (Traits::IsValid(Old)) Traits::Close(Old);
  }
  // Gives the handle up without closing it.
  [[nodiscard]] pointer release() noexcept { return std::exchange(FValue, Traits::Invalid()); }
  // For out-parameters: closes the held handle and returns the address to fill.
  [[nodiscard]] pointer* put() noexcept {
    reset();
    return &FValue;
  }

 private:
  pointer FValue = Traits::Invalid();
};

namespace detail {
inline void CloseKey(HKEY Key) noexcept { ::RegCloseKey(Key); }
inline void CloseServiceHandleFn(SC_HANDLE Handle) noexcept { ::CloseServiceHandle(Handle); }
inline void DestroyIconFn(HICON Icon) noexcept { ::DestroyIcon(Icon); }
inline void DeleteGdiObject(HGDIOBJ Object) noexcept { ::DeleteObject(Object); }
inline void FreeLibraryFn(HMODULE Module) noexcept { ::FreeLibrary(Module); }
inline void DestroyWindowFn(HWND Window) noexcept { ::DestroyWindow(Window); }
inline void DestroyMenuFn(HMENU Menu) noexcept { ::DestroyMenu(Menu); }
inline void DeleteDcFn(HDC Dc) noexcept { ::DeleteDC(Dc); }
inline void FreeSidFn(PSID Sid) noexcept { ::FreeSid(Sid); }
inline void LocalFreeFn(HLOCAL Memory) noexcept { ::LocalFree(Memory); }
inline void SysFreeStringFn(BSTR Text) noexcept { api::SysFreeString(Text); }
}  // namespace detail

using TOwnedHandle = TOwned<TKernelHandleTraits>;
using TOwnedKey = TOwned<TNullHandleTraits<HKEY, detail::CloseKey>>;
using TOwnedServiceHandle = TOwned<TNullHandleTraits<SC_HANDLE, detail::CloseServiceHandleFn>>;
using TOwnedIcon = TOwned<TNullHandleTraits<HICON, detail::DestroyIconFn>>;
using TOwnedModule = TOwned<TNullHandleTraits<HMODULE, detail::FreeLibraryFn>>;
using TOwnedWindow = TOwned<TNullHandleTraits<HWND, detail::DestroyWindowFn>>;
using TOwnedMenu = TOwned<TNullHandleTraits<HMENU, detail::DestroyMenuFn>>;
using TOwnedDc = TOwned<TNullHandleTraits<HDC, detail::DeleteDcFn>>;
using TOwnedLocal = TOwned<TNullHandleTraits<HLOCAL, detail::LocalFreeFn>>;
using TOwnedBstr = TOwned<TNullHandleTraits<BSTR, detail::SysFreeStringFn>>;
template <typename T>
using TOwnedGdi = TOwned<TNullHandleTraits<T, detail::DeleteGdiObject>>;
using TOwnedFont = TOwnedGdi<HFONT>;
using TOwnedBrush = TOwnedGdi<HBRUSH>;
using TOwnedPen = TOwnedGdi<HPEN>;
using TOwnedBitmap = TOwnedGdi<HBITMAP>;
using TOwnedRegion = TOwnedGdi<HRGN>;

// A COM interface pointer that releases its reference.
template <typename T>
struct TComTraits {
  using pointer = T*;
  static constexpr T* Invalid() noexcept { return nullptr; }
  static bool IsValid(T* Value) noexcept { return Value != nullptr; }
  static void Close(T* Value) noexcept { Value->Release(); }
};
template <typename T>
using TComPtr = TOwned<TComTraits<T>>;

// A VARIANT that is cleared when it goes.
class TOwnedVariant {
 public:
  TOwnedVariant() noexcept { FValue.vt = VT_EMPTY; }
  ~TOwnedVariant() { api::VariantClear(&FValue); }
  TOwnedVariant(const TOwnedVariant&) = delete;
  TOwnedVariant& operator=(const TOwnedVariant&) = delete;
  VARIANT* get() noexcept { return &FValue; }
  const VARIANT* get() const noexcept { return &FValue; }
  VARIANT* put() noexcept {
    api::VariantClear(&FValue);
    return &FValue;
  }

 private:
  VARIANT FValue;
};

// Selects a GDI object into a DC for the scope and puts the previous one back.
class TSelectObject {
 public:
  TSelectObject(HDC Dc, HGDIOBJ Object) noexcept : FDc(Dc), FOld(::SelectObject(Dc, Object)) {}
  ~TSelectObject() {
    if (FOld != nullptr && FOld != HGDI_ERROR) ::SelectObject(FDc, FOld);
  }
  TSelectObject(const TSelectObject&) = delete;
  TSelectObject& operator=(const TSelectObject&) = delete;

 private:
  HDC FDc;
  HGDIOBJ FOld;
};

// Saves a DC's whole state (colours, modes, selections) and restores it at scope end.
class TSaveDc {
 public:
  explicit TSaveDc(HDC Dc) noexcept : FDc(Dc), FSaved(::SaveDC(Dc)) {}
  ~TSaveDc() {
    if (FSaved != 0) ::RestoreDC(FDc, FSaved);
  }
  TSaveDc(const TSaveDc&) = delete;
  TSaveDc& operator=(const TSaveDc&) = delete;

 private:
  HDC FDc;
  int FSaved;
};

// A window's DC from GetDC, released at scope end.
class TWindowDc {
 public:
  explicit TWindowDc(HWND Window) noexcept : FWindow(Window), FDc(::GetDC(Window)) {}
  ~TWindowDc() {
    if (FDc != nullptr) ::ReleaseDC(FWindow, FDc);
  }
  TWindowDc(const TWindowDc&) = delete;
  TWindowDc& operator=(const TWindowDc&) = delete;
  [[nodiscard]] HDC get() const noexcept { return FDc; }

 private:
  HWND FWindow;
  HDC FDc;
};

// COM initialised for the calling thread while the object lives.
class TComScope {
 public:
  explicit TComScope(DWORD Model = COINIT_APARTMENTTHREADED) noexcept
      : FResult(api::CoInitializeEx(nullptr, Model)) {}
  ~TComScope() {
    if (SUCCEEDED(FResult)) api::CoUninitialize();
  }
  TComScope(const TComScope&) = delete;
  TComScope& operator=(const TComScope&) = delete;
  [[nodiscard]] bool ok() const noexcept { return SUCCEEDED(FResult); }

 private:
  HRESULT FResult;
};

}  // namespace nimbrel
