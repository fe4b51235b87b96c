// The message loop and the last-resort error handler of event handlers.
#include "widgets/application.h"

#include "base/utf.h"
#include "widgets/form.h"

namespace nimbrel {

TApplication& TApplication::Instance() {
  static TApplication Application;
  return Application;
}

void TApplication::Run(TForm& MainForm) {
  FMainForm = &MainForm;
  MainForm.Show();
  MSG Message;
  while (::GetMessageW(&Message, nullptr, 0, 0) > 0) {
    if (HandleDialogKeys(Message)) continue;
    ::TranslateMessage(&Message);
    ::DispatchMessageW(&Message);
  }
  FMainForm = nullptr;
}

void TApplication::ProcessMessages() {
  MSG Message;
  while (::PeekMessageW(&Message, nullptr, 0, 0, PM_REMOVE)) {
    if (Message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(Message.wParam));
      return;
    }
    if (HandleDialogKeys(Message)) continue;
    ::TranslateMessage(&Message);
    ::DispatchMessageW(&Message);
  }
}

bool TApplication::HandleDialogKeys(MSG& Message) {
  if (FMainForm == nullptr || FMainForm->Handle() == nullptr) return false;
  HWND Form = FMainForm->Handle();
  if (Message.hwnd != Form && !::IsChild(Form, Message.hwnd)) return false;
  // Enter presses the focused button, as Space does.
  if (Message.message == WM_KEYDOWN && Message.wParam == VK_RETURN) {
    wchar_t ClassName[16] = {};
    ::GetClassNameW(Message.hwnd, ClassName, 16);
    if (::lstrcmpiW(ClassName, L"Button") == 0 && TControl::FromHandle(Message.hwnd) != nullptr) {
      ::SendMessageW(Message.hwnd, BM_CLICK, 0, 0);
      return true;
    }
  }
  return ::IsDialogMessageW(Form, &Message) != FALSE;
}

void TApplication::HandleException(std::exception_ptr Error) {
  const std::wstring Message = ExceptionMessage(Error);
  if (FErrorSink != nullptr) {
    FErrorSink(Message);
    return;
  }
  HWND Owner = FMainForm != nullptr ? FMainForm->Handle() : nullptr;
  ShowMessageBox(Owner, Message, FTitle, MB_OK | MB_ICONERROR);
}

UINT MessageBoxType(UINT Type) noexcept { return RightToLeftReading() ? Type | MB_RTLREADING | MB_RIGHT : Type; }

int ShowMessageBox(HWND Owner, const std::wstring& Text, const std::wstring& Caption, UINT Type) {
  return ::MessageBoxW(Owner, Text.c_str(), Caption.c_str(), MessageBoxType(Type));
}

std::wstring ExceptionMessage(std::exception_ptr Error) {
  try {
    if (Error) std::rethrow_exception(Error);
  } catch (const std::exception& E) {
    return Utf8ToWide(E.what());
  } catch (...) {
  }
  return L"Unknown error";
}

}  // namespace nimbrel
