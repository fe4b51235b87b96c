// The desktop shell's dispatch object: ShellWindows -> the desktop's browser -> its view's
// background object -> Application (IShellDispatch2) -> ShellExecute.
#include "base/shell_open.h"

#include <windows.h>
#include <exdisp.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "base/ascii.h"
#include "base/handle.h"
#include "base/thread.h"

namespace nimbrel {
namespace {

// The two identifiers the headers only declare, so that linking them would bring in the import
// library's whole table of identifiers; the interfaces' own come from __uuidof.
constexpr GUID ShellWindowsClass = {0x9ba05972, 0xf6a8, 0x11cf, {0xa4, 0x42, 0x00, 0xa0, 0xc9, 0x0a, 0x8f, 0x39}};
constexpr GUID TopLevelBrowserService = {0x4c96be40, 0x915c, 0x11cf, {0x99, 0xd3, 0x00, 0xaa, 0x00, 0x4a, 0xe8, 0x37}};

// The user SID of a process token; empty when it cannot be read.
std::vector<BYTE> AccountOf(HANDLE Process) {
  TOwnedHandle Token;
  if (!::OpenProcessToken(Process, TOKEN_QUERY, Token.put())) return {};
  DWORD Size = 0;
  ::GetTokenInformation(Token.get(), ::TokenUser, nullptr, 0, &Size);
  if (Size == 0) return {};
  std::vector<BYTE> Buffer(Size);
  if (!::GetTokenInformation(Token.get(), ::TokenUser, Buffer.data(), Size, &Size)) return {};
  const auto* User = reinterpret_cast<const TOKEN_USER*>(Buffer.data());
  const DWORD SidLength = ::GetLengthSid(User->User.Sid);
  const auto* Sid = static_cast<const BYTE*>(User->User.Sid);
  return std::vector<BYTE>(Sid, Sid + SidLength);
}

// The desktop's IShellDispatch2, or nullptr.
TComPtr<IShellDispatch2> DesktopShellDispatch() {
  TComPtr<IShellWindows> Windows;
  if (FAILED(api::CoCreateInstance(ShellWindowsClass, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(IShellWindows),
                                reinterpret_cast<void**>(Windows.put()))))
    return {};
  TOwnedVariant Location;
  Location.get()->vt = VT_I4;
  Location.get()->lVal = CSIDL_DESKTOP;
  TOwnedVariant Empty;
  long Window = 0;
  TComPtr<IDispatch> Desktop;
  if (Windows.get()->FindWindowSW(Location.get(), Empty.get(), SWC_DESKTOP, &Window, SWFO_NEEDDISPATCH,
                                   Desktop.put()) != S_OK ||
      !Desktop)
    return {};
  TComPtr<IServiceProvider> Services;
  if (FAILED(Desktop.get()->QueryInterface(__uuidof(IServiceProvider), reinterpret_cast<void**>(Services.put()))))
    return {};
  TComPtr<IShellBrowser> Browser;
  if (FAILED(Services.get()->QueryService(TopLevelBrowserService, __uuidof(IShellBrowser),
                                          reinterpret_cast<void**>(Browser.put()))))
    return {};
  TComPtr<IShellView> View;
  if (FAILED(Browser.get()->QueryActiveShellView(View.put())) || !View) return {};
  TComPtr<IDispatch> Background;
  if (FAILED(View.get()->GetItemObject(SVGIO_BACKGROUND, __uuidof(IDispatch),
                                       reinterpret_cast<void**>(Background.put()))))
    return {};
  TComPtr<IShellFolderViewDual> FolderView;
  if (FAILED(Background.get()->QueryInterface(__uuidof(IShellFolderViewDual),
                                              reinterpret_cast<void**>(FolderView.put()))))
    return {};
  TComPtr<IDispatch> Application;
  if (FAILED(FolderView.get()->get_Application(Application.put())) || !Application) return {};
  TComPtr<IShellDispatch2> Shell;
  if (FAILED(Application.get()->QueryInterface(__uuidof(IShellDispatch2), reinterpret_cast<void**>(Shell.put()))))
    return {};
  return Shell;
}

// The addresses waiting to be opened, in the order asked, and how many are not done yet (waiting
// or being opened). Never freed: an open may outlive the static destructors.
struct TOpens {
  std::mutex Lock;
  std::condition_variable Idle;
  std::deque<std::wstring> Waiting;
  size_t Count = 0;
  bool Draining = false;  // one thread is opening the waiting addresses
};

TOpens& PendingOpens() {
  static auto* Opens = new TOpens;
  return *Opens;
}

TOwnedBstr MakeBstr(const std::wstring& Text) {
  return TOwnedBstr(api::SysAllocStringLen(Text.data(), static_cast<UINT>(Text.size())));
}

}  // namespace

bool IsWebAddress(std::wstring_view Target) noexcept {
  const auto HasScheme = [&](std::wstring_view Scheme) {
    return Target.size() > Scheme.size() && StartsWithAscii(Target, Scheme);
  };
  if (!HasScheme(L"http://") && !HasScheme(L"https://")) return false;
  for (const wchar_t C : Target)
    if (C < 0x20 || C == 0x7F) return false;
  return true;
}

bool DesktopShellIsSameAccount() noexcept {
  try {
    const HWND Shell = ::GetShellWindow();
    if (Shell == nullptr) return false;
    DWORD ProcessId = 0;
    ::GetWindowThreadProcessId(Shell, &ProcessId);
    if (ProcessId == 0) return false;
    TOwnedHandle Process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ProcessId));
    if (!Process) return false;
    const std::vector<BYTE> Theirs = AccountOf(Process.get());
    const std::vector<BYTE> Ours = AccountOf(::GetCurrentProcess());
    return !Theirs.empty() && Theirs == Ours;
  } catch (...) {
    return false;
  }
}

bool ShellExecuteAsUser(const std::wstring& File, const std::wstring& Parameters) {
  if (!DesktopShellIsSameAccount()) return false;
  TComPtr<IShellDispatch2> Shell = DesktopShellDispatch();
  if (!Shell) return false;
  TOwnedBstr FileText = MakeBstr(File);
  TOwnedVariant Arguments, Folder, Operation, Show;
  Arguments.get()->vt = VT_BSTR;
  Arguments.get()->bstrVal = api::SysAllocStringLen(Parameters.data(), static_cast<UINT>(Parameters.size()));
  Folder.get()->vt = VT_BSTR;
  Folder.get()->bstrVal = api::SysAllocString(L"");
  Operation.get()->vt = VT_BSTR;
  Operation.get()->bstrVal = api::SysAllocString(L"open");
  Show.get()->vt = VT_I4;
  Show.get()->lVal = SW_SHOWNORMAL;
  if (!FileText || Arguments.get()->bstrVal == nullptr || Folder.get()->bstrVal == nullptr ||
      Operation.get()->bstrVal == nullptr)
    return false;
  return SUCCEEDED(Shell.get()->ShellExecute(FileText.get(), *Arguments.get(), *Folder.get(), *Operation.get(),
                                             *Show.get()));
}

namespace {

void OpenNow(const std::wstring& Target) {
  if (ShellExecuteAsUser(Target, L"")) return;
  // Without SEE_MASK_NOASYNC the shell may still be working when this thread ends.
  SHELLEXECUTEINFOW Info{};
  Info.cbSize = sizeof(Info);
  Info.fMask = SEE_MASK_NOASYNC;
  Info.lpVerb = L"open";
  Info.lpFile = Target.c_str();
  Info.nShow = SW_SHOWNORMAL;
  api::ShellExecuteExW(&Info);
}

// Opens the waiting addresses one after the other until none is left. Run by the thread that set
// Draining, which it clears when the queue is empty.
void DrainOpens() noexcept {
  TOpens& Opens = PendingOpens();
  for (;;) {
    std::wstring Target;
    {
      const std::lock_guard<std::mutex> Guard(Opens.Lock);
      if (Opens.Waiting.empty()) {
        Opens.Draining = false;
        return;
      }
      Target = std::move(Opens.Waiting.front());
      Opens.Waiting.pop_front();
    }
    try {
      OpenNow(Target);
    } catch (...) {
      // Not reported, like any failed open.
    }
    {
      const std::lock_guard<std::mutex> Guard(Opens.Lock);
      --Opens.Count;
    }
    Opens.Idle.notify_all();
  }
}

}  // namespace

void ShellOpen(const std::wstring& Target) {
  if (!IsWebAddress(Target)) return;
  TOpens& Opens = PendingOpens();
  bool StartDrain = false;
  {
    const std::lock_guard<std::mutex> Guard(Opens.Lock);
    Opens.Waiting.push_back(Target);
    ++Opens.Count;
    StartDrain = !Opens.Draining;
    Opens.Draining = true;
  }
  if (!StartDrain) return;
  TOwnedHandle Thread;
  try {
    Thread = StartThread([] {
      const TComScope Com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
      DrainOpens();
    });
  } catch (...) {
    // No thread: opened here.
  }
  if (!Thread) DrainOpens();
}

bool WaitForShellOpens(unsigned long Milliseconds) {
  TOpens& Opens = PendingOpens();
  std::unique_lock<std::mutex> Lock(Opens.Lock);
  return Opens.Idle.wait_for(Lock, std::chrono::milliseconds(Milliseconds), [&] { return Opens.Count == 0; });
}

}  // namespace nimbrel
