// A Startup page load: the worker's part and its thread.
#include "startup/autorun_load.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_set>

#include "base/ascii.h"
#include "base/paths.h"
#include "base/sync.h"
#include "base/thread.h"
#include "widgets/stock_images.h"

namespace nimbrel {
namespace {

bool IsKind(const std::wstring& From, const wchar_t* Kind) { return SameTextAscii(From, Kind); }

// Whether an entry's row reads its file: registry and startup-folder entries do.
bool ReadsFile(const TAutorunInfo& Entry) { return !IsKind(Entry.From, L"SCHE") && !IsKind(Entry.From, L"SERV"); }

// What one load learns about files, each read once: product names by file and icons by icon
// location key (an empty icon: the location gave none). Not locked: one thread at a time.
class TFileFacts {
 public:
  explicit TFileFacts(const std::map<std::wstring, int>& Cache) : FCache(Cache) {}

  const std::wstring& ProductName(const std::wstring& File) {
    auto Found = FNames.find(File);
    if (Found == FNames.end()) {
      std::map<std::wstring, std::wstring> Strings;
      GetFileVersionStrings(File, {L"ProductName"}, Strings);
      Found = FNames.emplace(File, std::move(Strings[L"ProductName"])).first;
    }
    return Found->second;
  }

  // The key of the entry's icon location, its icon extracted unless the page has it already.
  TIconLocation Icon(const std::wstring& Location) {
    TIconLocation Parsed = ParseIconLocation(Location, static_cast<int>(TStockImage::Registry));
    if (!Parsed.Key.empty() && !FCache.contains(Parsed.Key) && !FIcons.contains(Parsed.Key)) {
      FIcons.emplace(Parsed.Key, ExtractFileIcon(Parsed));
    }
    return Parsed;
  }

  // Reads what the entry's row will show.
  void Learn(const TAutorunInfo& Entry) {
    ProductName(Entry.FileName);
    Icon(Entry.FileName);
  }

  const std::map<std::wstring, int>& Cache() const { return FCache; }
  std::map<std::wstring, TOwnedIcon>& Icons() { return FIcons; }

 private:
  const std::map<std::wstring, int>& FCache;
  std::map<std::wstring, std::wstring> FNames;
  std::map<std::wstring, TOwnedIcon> FIcons;
};

// Reads the files of new rows on a thread of its own while the collection goes on (the
// services, which take longest, come last). The collection hands over what it has each time it
// asks whether to stop; Finish waits for the thread, after which the facts are the caller's.
class TEarlyFacts {
 public:
  TEarlyFacts(const TAutorunLoadInput& Input, TFileFacts& Facts, const TStopQuery& Stopped)
      : FInput(Input), FFacts(Facts), FStopped(Stopped) {
    for (const TAutorunItem& Row : Input.Rows) FRowKeys.insert(AsciiUpper(AutorunKey(Row.From, Row.Target)));
  }
  ~TEarlyFacts() { Finish(); }
  TEarlyFacts(const TEarlyFacts&) = delete;
  TEarlyFacts& operator=(const TEarlyFacts&) = delete;

  // On the collecting thread, between two of its appends: takes the entries added since the
  // last call that will become rows reading a file.
  void Offer(const TAutorunList& List) {
    std::vector<TAutorunInfo> Batch;
    for (; FOffered < List.size(); ++FOffered) {
      const TAutorunInfo& Entry = List[FOffered];
      if (!ReadsFile(Entry) || FRowKeys.contains(AsciiUpper(AutorunKey(Entry.From, Entry.Target)))) continue;
      if (!WantsAutorunRow(Entry, FInput.ShowAll, FInput.FileWhite, FInput.NameWhite)) continue;
      Batch.push_back(Entry);
    }
    if (Batch.empty()) return;
    {
      const std::lock_guard<std::mutex> Guard(FLock);
      FQueue.insert(FQueue.end(), std::make_move_iterator(Batch.begin()), std::make_move_iterator(Batch.end()));
    }
    FWake.notify_one();
    if (FThread.joinable()) return;
    try {
      FThread = std::thread([this] { Run(); });
    } catch (...) {
      // No thread: the worker reads the files itself after the collection.
      const std::lock_guard<std::mutex> Guard(FLock);
      FQueue.clear();
    }
  }

  void Finish() {
    {
      const std::lock_guard<std::mutex> Guard(FLock);
      FDone = true;
    }
    FWake.notify_one();
    if (FThread.joinable()) FThread.join();
  }

 private:
  void Run() {
    const TComScope Com(COINIT_MULTITHREADED);  // shell icon handlers may use COM
    std::unique_lock<std::mutex> Lock(FLock);
    for (;;) {
      FWake.wait(Lock, [this] { return FDone || !FQueue.empty(); });
      if (FQueue.empty()) return;
      std::vector<TAutorunInfo> Batch;
      Batch.swap(FQueue);
      Lock.unlock();
      for (const TAutorunInfo& Entry : Batch) {
        if (FStopped()) break;
        FFacts.Learn(Entry);
      }
      Lock.lock();
    }
  }

  const TAutorunLoadInput& FInput;
  TFileFacts& FFacts;
  const TStopQuery& FStopped;
  std::unordered_set<std::wstring> FRowKeys;
  size_t FOffered = 0;
  std::mutex FLock;
  std::condition_variable FWake;
  std::vector<TAutorunInfo> FQueue;
  bool FDone = false;
  std::thread FThread;
};

}  // namespace

TAutorunLoadResult PrepareAutorunLoad(const TAutorunLoadInput& Input, const TAutorunCollector& Collect,
                                      const TStopQuery& Stopped) {
  TAutorunLoadResult Result;
  TFileFacts Facts(Input.IconCache);
  {
    TEarlyFacts Early(Input, Facts, Stopped);
    try {
      Collect(Result.Entries, [&] {
        Early.Offer(Result.Entries);
        return Stopped();
      });
    } catch (...) {
      Result.Error = std::current_exception();
    }
  }
  if (Result.Error || Stopped()) {
    Result.Stopped = true;
    return Result;
  }
  Result.Merge = MergeAutorunRows(Input.Rows, Result.Entries, Input.ShowAll, Input.FileWhite, Input.NameWhite);
  Result.NewRows.reserve(Result.Merge.Appended.size());
  Result.NewRowIcon.reserve(Result.Merge.Appended.size());
  std::map<std::wstring, int> NewIconOfKey;  // key -> index in NewIcons, -1: no icon
  for (const size_t Index : Result.Merge.Appended) {
    if (Stopped()) {
      Result.Stopped = true;
      return Result;
    }
    const TAutorunInfo& Entry = Result.Entries[Index];
    TAutorunItem Item{Entry.Caption, Entry.Target, Entry.From, 0, Entry.Enabled};
    int NewIcon = -1;
    if (IsKind(Entry.From, L"SCHE")) {
      Item.Icon = static_cast<int>(TStockImage::Clock);
    } else if (IsKind(Entry.From, L"SERV")) {
      Item.Icon = static_cast<int>(TStockImage::Gears);
    } else {
      if (const std::wstring& Product = Facts.ProductName(Entry.FileName); !Product.empty()) Item.FileName = Product;
      const TIconLocation Location = Facts.Icon(Entry.FileName);
      if (Location.Key.empty()) {
        Item.Icon = static_cast<int>(TStockImage::Registry);
      } else if (const auto Cached = Facts.Cache().find(Location.Key); Cached != Facts.Cache().end()) {
        Item.Icon = Cached->second;
      } else {
        auto Known = NewIconOfKey.find(Location.Key);
        if (Known == NewIconOfKey.end()) {
          TOwnedIcon& Icon = Facts.Icons()[Location.Key];
          int Added = -1;
          if (Icon) {
            Added = static_cast<int>(Result.NewIcons.size());
            Result.NewIcons.push_back(TAutorunNewIcon{Location.Key, std::move(Icon)});
          }
          Known = NewIconOfKey.emplace(Location.Key, Added).first;
        }
        NewIcon = Known->second;
        if (NewIcon < 0) Item.Icon = static_cast<int>(TStockImage::Document);
      }
    }
    Result.NewRows.push_back(std::move(Item));
    Result.NewRowIcon.push_back(NewIcon);
  }
  return Result;
}

TAutorunLoadJob::TAutorunLoadJob(TAutorunLoadInput Input, TAutorunCollector Collect, TDone Done)
    : FInput(std::move(Input)), FCollect(std::move(Collect)), FDone(std::move(Done)) {}

std::shared_ptr<TAutorunLoadJob> TAutorunLoadJob::Start(TAutorunLoadInput Input, TAutorunCollector Collect,
                                                        TDone Done) {
  auto Job = std::make_shared<TAutorunLoadJob>(std::move(Input), std::move(Collect), std::move(Done));
  Job->FStop.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!Job->FStop) return nullptr;
  // The worker holds a reference of its own until it ends.
  Job->FThread = StartThread([Job] { Job->Run(); });
  return Job->FThread ? Job : nullptr;
}

void TAutorunLoadJob::Run() {
  std::shared_ptr<TAutorunLoadResult> Result;
  {
    const TComScope Com(COINIT_MULTITHREADED);
    const HANDLE Stop = FStop.get();
    try {
      Result = std::make_shared<TAutorunLoadResult>(
          PrepareAutorunLoad(FInput, FCollect, [Stop] { return ::WaitForSingleObject(Stop, 0) == WAIT_OBJECT_0; }));
    } catch (...) {
      Result = std::make_shared<TAutorunLoadResult>();
      Result->Stopped = true;
      Result->Error = std::current_exception();
    }
  }
  if (::WaitForSingleObject(FStop.get(), 0) == WAIT_OBJECT_0) return;
  Queue([Self = shared_from_this(), Result] {
    if (!Self->FStopped && Self->FDone) Self->FDone(*Result);
  });
}

void TAutorunLoadJob::Stop() noexcept {
  FStopped = true;
  ::SetEvent(FStop.get());
}

bool TAutorunLoadJob::Wait(DWORD Milliseconds) {
  return WaitServingMainThread(FThread.get(), Milliseconds) == WAIT_OBJECT_0;
}

}  // namespace nimbrel
