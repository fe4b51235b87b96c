// The application object: the message loop, the title, and the handler for errors that escape
// an event handler (they end up in a message box; the program goes on).
#pragma once

#include <windows.h>

#include <exception>
#include <string>

namespace nimbrel {

class TForm;

class TApplication {
 public:
  static TApplication& Instance();

  [[nodiscard]] const std::wstring& Title() const noexcept { return FTitle; }
  void SetTitle(const std::wstring& Title) { FTitle = Title; }

  // Runs the message loop until MainForm's window is gone.
  void Run(TForm& MainForm);
  // Lets pending window messages run (paints included), then returns.
  void ProcessMessages();
  [[nodiscard]] TForm* MainForm() const noexcept { return FMainForm; }

  // Shows the error's message in a message box owned by the main window. Main thread only.
  void HandleException(std::exception_ptr Error);

  // Replaces the message box (tests record errors instead of showing them).
  using TErrorSink = void (*)(const std::wstring& Message);
  void SetErrorSink(TErrorSink Sink) noexcept { FErrorSink = Sink; }

 private:
  bool HandleDialogKeys(MSG& Message);

  std::wstring FTitle;
  TForm* FMainForm = nullptr;
  TErrorSink FErrorSink = nullptr;
};

inline TApplication& Application() { return TApplication::Instance(); }

// Runs an event handler; an exception it throws goes to the application's handler.
template <typename F>
void GuardedCall(F&& Handler) noexcept {
  try {
    Handler();
  } catch (...) {
    Application().HandleException(std::current_exception());
  }
}

// Message box type flags for the program's language: Arabic reads right to left
// (MB_RTLREADING | MB_RIGHT are added).
UINT MessageBoxType(UINT Type) noexcept;
// Every message box of the program goes through here. Main thread.
int ShowMessageBox(HWND Owner, const std::wstring& Text, const std::wstring& Caption, UINT Type);

// The message of an exception as text (UTF-8 what() converted); "Unknown error" for others.
std::wstring ExceptionMessage(std::exception_ptr Error);

}  // namespace nimbrel
