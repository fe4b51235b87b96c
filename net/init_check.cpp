// The start-up check's worker and the answer's handling.
#include "net/init_check.h"

#include "base/shell_open.h"
#include "base/sync.h"
#include "base/thread.h"

namespace nimbrel {

bool HandleInitAnswer(const std::wstring& Answer, const TAnswerActions& Actions) {
  bool Accepted = false;
  const std::wstring Update = AnswerMember(Answer, L"update");
  if (IsWebAddress(Update) && Actions.Prompt) {
    const TUpdateChoice Choice = Actions.Prompt(Answer);
    if (Choice.Hold && Actions.Hold) Actions.Hold();
    if (Choice.Accepted) {
      if (Actions.Open) Actions.Open(Update);
      Accepted = true;
    }
  }
  const std::wstring Notify = AnswerMember(Answer, L"notify");
  if (IsWebAddress(Notify) && Actions.ShowStatus) Actions.ShowStatus(Notify);
  return Accepted;
}

TUpdateCheck::TUpdateCheck(TInitHeaders Headers, TInitRequest Request, std::function<void(const std::wstring&)> Handle,
                           int Attempts, DWORD Pause)
    : FHeaders(std::move(Headers)),
      FRequest(std::move(Request)),
      FHandle(std::move(Handle)),
      FAttempts(Attempts),
      FPause(Pause),
      FStop(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

std::shared_ptr<TUpdateCheck> TUpdateCheck::Start(TInitHeaders Headers, TInitRequest Request,
                                                  std::function<void(const std::wstring&)> Handle, int Attempts,
                                                  DWORD Pause) {
  auto Check = std::make_shared<TUpdateCheck>(std::move(Headers), std::move(Request), std::move(Handle), Attempts, Pause);
  if (!Check->FStop) return nullptr;
  Check->FThread = StartThread([Check] { Check->Run(); });
  return Check->FThread ? Check : nullptr;
}

void TUpdateCheck::Run() {
  std::wstring Answer;
  for (int Attempt = 0; Attempt < FAttempts; ++Attempt) {
    if (::WaitForSingleObject(FStop.get(), 0) == WAIT_OBJECT_0) return;
    bool Answered = false;
    try {
      Answered = FRequest && FRequest(FHeaders, Answer, FStop.get());
    } catch (...) {
      Answered = false;
    }
    if (Answered) break;
    if (::WaitForSingleObject(FStop.get(), FPause) == WAIT_OBJECT_0) return;
  }
  try {
    Synchronize([&] {
      if (!FStopped && FHandle) FHandle(Answer);
    });
  } catch (...) {
    // An error on the main thread (a malformed escape, a failing callback) ends the job here.
  }
}

void TUpdateCheck::Abandon() noexcept {
  FStopped = true;
  ::SetEvent(FStop.get());
}

bool TUpdateCheck::Stop(DWORD Milliseconds) {
  Abandon();
  return !FThread || WaitServingMainThread(FThread.get(), Milliseconds) == WAIT_OBJECT_0;
}

bool TUpdateCheck::Finished() const noexcept {
  return !FThread || ::WaitForSingleObject(FThread.get(), 0) == WAIT_OBJECT_0;
}

}  // namespace nimbrel
