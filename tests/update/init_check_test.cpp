// The start-up check: what an answer sets off, and the worker's attempts, pauses and stop.
#include "update/init_check.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/sync.h"

namespace nimbrel {
namespace {

struct TRecorder {
  std::vector<std::wstring> Events;
  TUpdateChoice Choice;
  TAnswerActions Actions() {
    return {[this](const TUpdateNotice& Notice) {
              Events.push_back(L"prompt" + (Notice.Text.empty() ? L"" : L" " + Notice.Text));
              return Choice;
            },
            [this](const std::wstring& Address) { Events.push_back(L"open " + Address); },
            [this](const std::wstring& Address) { Events.push_back(L"bar " + Address); },
            [this] { Events.push_back(L"hold"); }};
  }
};

TEST(HandleInitAnswer, PromptOpenHoldAndBarInOrder) {
  struct TCase {
    const wchar_t* Answer;
    TUpdateChoice Choice;
    bool Accepted;
    std::vector<std::wstring> Events;
  };
  const TCase Cases[] = {
      {LR"({"update":"https://x/new","notify":"https://x/bar"})", {true, false}, true,
       {L"prompt", L"open https://x/new", L"bar https://x/bar"}},
      {LR"({"update":"https://x/new"})", {false, false}, false, {L"prompt"}},
      {LR"({"update":"https://x/new"})", {true, true}, true, {L"prompt", L"hold", L"open https://x/new"}},
      {LR"({"update":"https://x/new"})", {false, true}, false, {L"prompt", L"hold"}},
      {LR"({"notify":"http:\/\/x\/bar"})", {true, false}, false, {L"bar http://x/bar"}},
      // What is not a web address counts as missing: no prompt, no bar, nothing started.
      {LR"({"update":"C:\\Windows\\notepad.exe","notify":"file:///C:/x"})", {true, false}, false, {}},
      {LR"x({"update":"calc","notify":"javascript:alert(1)"})x", {true, false}, false, {}},
      {LR"(<html>Service unavailable</html>)", {true, false}, false, {}},
      {L"", {true, false}, false, {}},
  };
  for (const TCase& Case : Cases) {
    TRecorder Recorder;
    Recorder.Choice = Case.Choice;
    EXPECT_EQ(HandleInitAnswer(Case.Answer, Recorder.Actions()), Case.Accepted) << testing::PrintToString(Case.Answer);
    EXPECT_EQ(Recorder.Events, Case.Events) << testing::PrintToString(Case.Answer);
  }
  // A malformed escape stops the handling where it is read; what came before it has happened.
  const std::pair<const wchar_t*, std::vector<std::wstring>> Broken[] = {
      {LR"({"notify":"https://x/\u12x4"})", {}},
      {LR"({"update":"https://x/\u12x4","notify":"https://x/bar"})", {}},
      {LR"({"update":"https://x/new","info":{"text":"\u12x4"},"notify":"https://x/bar"})", {}},
      {LR"({"update":"https://x/new","info":{"text":"Hi"},"notify":"https://x/\u12x4"})", {L"prompt Hi", L"open https://x/new"}},
  };
  for (const auto& [Answer, Events] : Broken) {
    TRecorder Recorder;
    Recorder.Choice = {true, false};
    const TInitAnswer Read = ReadInitAnswer(Answer);  // reading never throws: the error waits for its step
    EXPECT_THROW(HandleInitAnswer(Read, Recorder.Actions()), std::invalid_argument) << testing::PrintToString(Answer);
    EXPECT_EQ(Recorder.Events, Events) << testing::PrintToString(Answer);
  }
  // A malformed notice of an answer without an update is never read.
  TRecorder Quiet;
  EXPECT_FALSE(HandleInitAnswer(LR"({"info":{"text":"\u12x4"},"notify":"https://x/bar"})", Quiet.Actions()));
  EXPECT_EQ(Quiet.Events, std::vector<std::wstring>{L"bar https://x/bar"});
}

class UpdateCheckTest : public testing::Test {
 protected:
  void SetUp() override { InitMainThread(); }

  // Serves hand-overs until Done or the time is up.
  template <typename Pred>
  static bool ServeUntil(Pred Done, DWORD Milliseconds) {
    TOwnedHandle Never(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const ULONGLONG Until = ::GetTickCount64() + Milliseconds;
    while (!Done()) {
      if (::GetTickCount64() > Until) return false;
      WaitServingMainThread(Never.get(), 10);
    }
    return true;
  }
};

// A reader that notes where it ran and hands the answer to Handle on the main thread.
TAnswerReader Reader(std::function<void(const std::wstring&)> Handle, std::atomic<bool>* ReadOnWorker = nullptr) {
  return [Handle = std::move(Handle), ReadOnWorker](const std::wstring& Answer, HANDLE) -> std::function<void()> {
    if (ReadOnWorker != nullptr) *ReadOnWorker = !IsMainThread();
    return [Handle, Answer] { Handle(Answer); };
  };
}

TEST_F(UpdateCheckTest, RetriesUntilAnAnswerReadsItOnTheWorkerAndActsOnTheMainThread) {
  std::atomic<int> Requests{0};
  std::vector<std::wstring> SeenHeaders;
  std::optional<std::wstring> Handled;
  std::atomic<bool> ReadOnWorker{false};
  bool OnMain = false;
  auto Check = TUpdateCheck::Start(
      {{L"User-Version", L"1.0.0.0"}, {L"User-Language", L"en"}},
      [&](const TInitHeaders& Headers, std::wstring& Answer, HANDLE) {
        if (++Requests < 3) return false;
        for (const TInitHeader& Header : Headers) SeenHeaders.push_back(Header.Name + L"=" + Header.Value);
        Answer = L"{\"ok\":\"1\"}";
        return true;
      },
      Reader(
          [&](const std::wstring& Answer) {
            Handled = Answer;
            OnMain = IsMainThread();
          },
          &ReadOnWorker),
      6, 10);
  ASSERT_NE(Check, nullptr);
  ASSERT_TRUE(ServeUntil([&] { return Handled.has_value(); }, 10000));
  EXPECT_EQ(*Handled, L"{\"ok\":\"1\"}");
  EXPECT_TRUE(ReadOnWorker);
  EXPECT_TRUE(OnMain);
  EXPECT_EQ(Requests, 3);
  EXPECT_EQ(SeenHeaders, (std::vector<std::wstring>{L"User-Version=1.0.0.0", L"User-Language=en"}));
  EXPECT_TRUE(Check->Stop(5000));
}

TEST_F(UpdateCheckTest, AServiceThatIsDownGivesAnEmptyAnswerAfterTheLastPause) {
  std::atomic<int> Requests{0};
  std::optional<std::wstring> Handled;
  auto Check = TUpdateCheck::Start({}, [&](const TInitHeaders&, std::wstring&, HANDLE) { return ++Requests, false; },
                                   Reader([&](const std::wstring& Answer) { Handled = Answer; }), 6, 10);
  ASSERT_TRUE(ServeUntil([&] { return Handled.has_value(); }, 10000));
  EXPECT_EQ(Requests, 6);
  EXPECT_EQ(*Handled, L"");
}

TEST_F(UpdateCheckTest, AStopDuringAPauseARequestOrTheReadingEndsTheJobWithoutAHandOver) {
  bool Handled = false;
  auto Pausing = TUpdateCheck::Start({}, [](const TInitHeaders&, std::wstring&, HANDLE) { return false; },
                                     Reader([&](const std::wstring&) { Handled = true; }));  // 10-s pauses
  ::Sleep(100);
  ULONGLONG Start = ::GetTickCount64();
  EXPECT_TRUE(Pausing->Stop(1000));
  EXPECT_LT(::GetTickCount64() - Start, 1000u);

  // A request under way gives way to the stop signal it is handed.
  auto Requesting = TUpdateCheck::Start({},
                                        [](const TInitHeaders&, std::wstring&, HANDLE Stop) {
                                          ::WaitForSingleObject(Stop, INFINITE);
                                          return false;
                                        },
                                        Reader([&](const std::wstring&) { Handled = true; }));
  ::Sleep(100);
  EXPECT_TRUE(Requesting->Stop(1000));

  // So does the reading, and a step it still gives is not run.
  auto Reading = TUpdateCheck::Start({}, [](const TInitHeaders&, std::wstring&, HANDLE) { return true; },
                                     [&](const std::wstring&, HANDLE Stop) -> std::function<void()> {
                                       ::WaitForSingleObject(Stop, INFINITE);
                                       return [&] { Handled = true; };
                                     });
  ::Sleep(100);
  EXPECT_TRUE(Reading->Stop(1000));
  ServeUntil([] { return false; }, 200);
  EXPECT_FALSE(Handled);
}

TEST_F(UpdateCheckTest, AnErrorOnTheMainThreadOrInTheReadingEndsTheJob) {
  std::atomic<bool> Ran{false};
  auto Check = TUpdateCheck::Start({}, [](const TInitHeaders&, std::wstring& Answer, HANDLE) {
    Answer = LR"({"notify":"\u12x4"})";
    return true;
  }, [&](const std::wstring& Answer, HANDLE) -> std::function<void()> {
    auto Read = std::make_shared<TInitAnswer>(ReadInitAnswer(Answer));
    return [&Ran, Read] {
      Ran = true;
      HandleInitAnswer(*Read, {});
    };
  }, 6, 10);
  ASSERT_TRUE(ServeUntil([&] { return Check->Finished(); }, 10000));
  EXPECT_TRUE(Ran);

  auto Failing = TUpdateCheck::Start({}, [](const TInitHeaders&, std::wstring&, HANDLE) { return true; },
                                     [](const std::wstring&, HANDLE) -> std::function<void()> {
                                       throw std::runtime_error("no memory");
                                     }, 6, 10);
  EXPECT_TRUE(ServeUntil([&] { return Failing->Finished(); }, 10000));
}

}  // namespace
}  // namespace nimbrel
