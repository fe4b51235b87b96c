// The start-up check's worker and the answer's handling.
#include "update/init_check.h"

#include "base/shell_open.h"
#include "base/sync.h"
#include "base/thread.h"

#include <stdexcept>

namespace nimbrel {

namespace {

// Reads one member, keeping a malformed escape's error for the step that would read it.
template <typename TRead>
void ReadMember(TRead Read, std::exception_ptr& Error) {
  try {
    Read();
  } catch (const std::invalid_argument&) {
    Error = std::current_exception();
  }
}

}  // namespace

TInitAnswer ReadInitAnswer(const std::wstring& Answer) {
  TInitAnswer Read;
  ReadMember([&] { Read.Update = AnswerMember(Answer, L"update"); }, Read.UpdateError);
  if (!Read.UpdateError && IsWebAddress(Read.Update))
    ReadMember([&] { Read.Notice = ReadUpdateNotice(Answer); }, Read.NoticeError);
  ReadMember([&] { Read.Notify = AnswerMember(Answer, L"notify"); }, Read.NotifyError);
  return Read;
}

bool HandleInitAnswer(const TInitAnswer& Answer, const TAnswerActions& Actions) {
  if (Answer.UpdateError) std::rethrow_exception(Answer.UpdateError);
  bool Accepted = false;
  if (IsWebAddress(Answer.Update) && Actions.Prompt) {
    if (Answer.NoticeError) std::rethrow_exception(Answer.NoticeError);
    const TUpdateChoice Choice = Actions.Prompt(Answer.Notice);
    if (Choice.Hold && Actions.Hold) Actions.Hold();
    if (Choice.Accepted) {
      if (Actions.Open) Actions.Open(Answer.Update);
      Accepted = true;
    }
  }
  if (Answer.NotifyError) std::rethrow_exception(Answer.NotifyError);
  if (IsWebAddress(Answer.Notify) && Actions.ShowStatus) Actions.ShowStatus(Answer.Notify);
  return Accepted;
}

bool HandleInitAnswer(const std::wstring& Answer, const TAnswerActions& Actions) {
  return HandleInitAnswer(ReadInitAnswer(Answer), Actions);
}

TUpdateCheck::TUpdateCheck(TInitHeaders Headers, TInitRequest Request, TAnswerReader Read, int Attempts, DWORD Pause)
    : FHeaders(std::move(Headers)),
      FRequest(std::move(Request)),
      FRead(std::move(Read)),
      FAttempts(Attempts),
      FPause(Pause),
      FStop(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

std::shared_ptr<TUpdateCheck> TUpdateCheck::Start(TInitHeaders Headers, TInitRequest Request, TAnswerReader Read,
                                                  int Attempts, DWORD Pause) {
  auto Check = std::make_shared<TUpdateCheck>(std::move(Headers), std::move(Request), std::move(Read), Attempts, Pause);
  if (!Check->FStop) return nullptr;
  Check->FThread = StartThread([Check] { Check->Run(); });
  return Check->FThread ? Check : nullptr;
}

void TUpdateCheck::Run() {
  std::function<void()> Apply;
  {
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
      if (FRead) Apply = FRead(Answer, FStop.get());
    } catch (...) {
      return;  // an answer that cannot be read (no memory, say) is no answer
    }
  }  // the answer's text goes here, on the worker
  if (!Apply || ::WaitForSingleObject(FStop.get(), 0) == WAIT_OBJECT_0) return;
  try {
    Synchronize([&] {
      if (!FStopped) Apply();
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
