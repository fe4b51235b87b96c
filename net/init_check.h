// The start-up check's job: asking the service on a worker thread, retrying, and handling the
// answer on the main thread (update prompt, update bar, then the caller's callback).
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/handle.h"
#include "net/update_prompt.h"

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

// What handling an answer does to the world; tests replace them.
struct TAnswerActions {
  std::function<TUpdateChoice(const std::wstring& Answer)> Prompt;  // the update prompt
  std::function<void(const std::wstring& Address)> Open;            // ShellOpen
  std::function<void(const std::wstring& Address)> ShowStatus;      // the update bar
  std::function<void()> Hold;                                       // the hold request, fire and forget
};

// Main thread, in this order: an "update" that is a web address is offered with Prompt (opened
// when taken, the hold request started when its box was ticked, whichever button closed it);
// a "notify" that is a web address shows the bar. Addresses that are not http or https count
// as missing. Answers whether the update was taken. Throws std::invalid_argument for a
// malformed "\u" escape in a member it reads; the later steps then do not run.
bool HandleInitAnswer(const std::wstring& Answer, const TAnswerActions& Actions);

// The check's worker: up to Attempts requests, Pause between failed ones (also after the last),
// then the answer (empty when none came) handed to the main thread, where Handle runs and the
// caller waits for it. A stop during a pause or a request ends the job without a hand-over.
class TUpdateCheck : public std::enable_shared_from_this<TUpdateCheck> {
 public:
  static constexpr int DefaultAttempts = 6;
  static constexpr DWORD DefaultPause = 10000;

  // Main thread. nullptr when no thread could be made.
  static std::shared_ptr<TUpdateCheck> Start(TInitHeaders Headers, TInitRequest Request,
                                             std::function<void(const std::wstring& Answer)> Handle,
                                             int Attempts = DefaultAttempts, DWORD Pause = DefaultPause);

  // Main thread: Handle will not run from now on, and the job is told to stop; returns at once.
  void Abandon() noexcept;
  // Main thread: Abandon, then waits up to Milliseconds (serving its hand-over); true when it has
  // ended.
  bool Stop(DWORD Milliseconds);
  [[nodiscard]] bool Finished() const noexcept;

  TUpdateCheck(TInitHeaders Headers, TInitRequest Request, std::function<void(const std::wstring&)> Handle,
               int Attempts, DWORD Pause);

 private:
  void Run();

  TInitHeaders FHeaders;
  TInitRequest FRequest;
  std::function<void(const std::wstring&)> FHandle;
  int FAttempts;
  DWORD FPause;
  TOwnedHandle FStop;
  TOwnedHandle FThread;
  bool FStopped = false;  // main thread only
};

}  // namespace nimbrel
