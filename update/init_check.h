// The start-up check's job: asking the service on a worker thread, retrying, and handling the
// answer on the main thread (update prompt, update bar, then the caller's callback).
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/handle.h"
#include "update/update_prompt.h"

namespace nimbrel {

struct TInitHeader {
  std::wstring Name;
  std::wstring Value;
};
using TInitHeaders = std::vector<TInitHeader>;

// One request to the start-up endpoint with these headers: true and the whole body as text on
// success (any status); false leaves Answer as it was. Gives way when Stop is set. Worker thread.
using TInitRequest = std::function<bool(const TInitHeaders& Headers, std::wstring& Answer, HANDLE Stop)>;

// Main thread: Accepted is true when the user took the offered update.
using TCheckCallback = std::function<void(bool Accepted, const std::wstring& Answer)>;

// What a start-up answer asks for, read from its text on the check's worker (an answer may be
// 16 MiB; reading it is no work for the main thread). A member with a malformed "\u" escape
// keeps its error, which HandleInitAnswer raises where it would have read that member.
struct TInitAnswer {
  std::wstring Update;
  TUpdateNotice Notice;  // read only when Update is a web address
  std::wstring Notify;
  std::exception_ptr UpdateError, NoticeError, NotifyError;
};
TInitAnswer ReadInitAnswer(const std::wstring& Answer);

// What handling an answer does to the world; tests replace them.
struct TAnswerActions {
  std::function<TUpdateChoice(const TUpdateNotice& Notice)> Prompt;  // the update prompt
  std::function<void(const std::wstring& Address)> Open;             // ShellOpen
  std::function<void(const std::wstring& Address)> ShowStatus;       // the update bar
  std::function<void()> Hold;                                        // the hold request
};

// Main thread, in this order: an "update" that is a web address is offered with Prompt (opened
// when taken, the hold request started when its box was ticked, whichever button closed it);
// a "notify" that is a web address shows the bar. Addresses that are not http or https count
// as missing. Answers whether the update was taken. Throws std::invalid_argument for a
// malformed "\u" escape in a member it reads; the later steps then do not run.
bool HandleInitAnswer(const TInitAnswer& Answer, const TAnswerActions& Actions);
// Both steps at once (tests and tools).
bool HandleInitAnswer(const std::wstring& Answer, const TAnswerActions& Actions);

// The check's worker turns the answer (empty when none came) into the step the main thread then
// runs, so that all reading and checking of the answer happens on the worker and the main thread
// only acts on its result. It gives way when Stop is set; an empty step, or an exception, ends
// the job without a hand-over.
using TAnswerReader = std::function<std::function<void()>(const std::wstring& Answer, HANDLE Stop)>;

// The check's worker: up to Attempts requests, Pause between failed ones (also after the last),
// then the answer (empty when none came) read with Read on the worker and the step it gives
// handed to the main thread, where the caller waits for it. A stop during a pause, a request or
// the reading ends the job without a hand-over.
class TUpdateCheck : public std::enable_shared_from_this<TUpdateCheck> {
 public:
  static constexpr int DefaultAttempts = 6;
  static constexpr DWORD DefaultPause = 10000;

  // Main thread. nullptr when no thread could be made.
  static std::shared_ptr<TUpdateCheck> Start(TInitHeaders Headers, TInitRequest Request, TAnswerReader Read,
                                             int Attempts = DefaultAttempts, DWORD Pause = DefaultPause);

  // Main thread: Handle will not run from now on, and the job is told to stop; returns at once.
  void Abandon() noexcept;
  // Main thread: Abandon, then waits up to Milliseconds (serving its hand-over); true when it has
  // ended.
  bool Stop(DWORD Milliseconds);
  [[nodiscard]] bool Finished() const noexcept;

  TUpdateCheck(TInitHeaders Headers, TInitRequest Request, TAnswerReader Read, int Attempts, DWORD Pause);

 private:
  void Run();

  TInitHeaders FHeaders;
  TInitRequest FRequest;
  TAnswerReader FRead;
  int FAttempts;
  DWORD FPause;
  TOwnedHandle FStop;
  TOwnedHandle FThread;
  bool FStopped = false;  // main thread only
};

}  // namespace nimbrel
