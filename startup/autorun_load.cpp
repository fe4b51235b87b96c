// A Startup page load: the worker's part and its thread.
#include "startup/autorun_load.h"

#include "base/ascii.h"
#include "base/paths.h"
#include "base/sync.h"
#include "widgets/stock_images.h"

namespace nimbrel {
namespace {

bool IsKind(const std::wstring& From, const wchar_t* Kind) { return SameTextAscii(From, Kind); }

// The icons of one load: those known at its start, those it extracts, and the locations that
// gave none (checked again at the next load, as the cache keeps only icons).
class TLoadIcons {
 public:
  TLoadIcons(const std::map<std::wstring, int>& Cache, TAutorunLoadResult& Result) : FCache(Cache), FResult(Result) {}

  // Sets Item.Icon, or notes the new icon it shows.
  void Assign(const std::wstring& Location, TAutorunItem& Item, int& NewIcon) {
    NewIcon = -1;
    const int Default = static_cast<int>(TStockImage::Registry);
    const TIconLocation Parsed = ParseIconLocation(Location, Default);
    if (Parsed.Key.empty()) {
      Item.Icon = Default;
      return;
    }
    if (const auto Cached = FCache.find(Parsed.Key); Cached != FCache.end()) {
      Item.Icon = Cached->second;
      return;
    }
    if (const auto Seen = FSeen.find(Parsed.Key); Seen != FSeen.end()) {
      NewIcon = Seen->second;
      if (NewIcon < 0) Item.Icon = static_cast<int>(TStockImage::Document);
      return;
    }
    TOwnedIcon Icon = ExtractFileIcon(Parsed);
    if (Icon) {
      NewIcon = static_cast<int>(FResult.NewIcons.size());
      FResult.NewIcons.push_back(TAutorunNewIcon{Parsed.Key, std::move(Icon)});
    } else {
      Item.Icon = static_cast<int>(TStockImage::Document);
    }
    FSeen[Parsed.Key] = NewIcon;
  }

 private:
  const std::map<std::wstring, int>& FCache;
  TAutorunLoadResult& FResult;
  std::map<std::wstring, int> FSeen;  // key -> index in NewIcons, -1: no icon
};

}  // namespace

TAutorunLoadResult PrepareAutorunLoad(const TAutorunLoadInput& Input, const TAutorunCollector& Collect,
                                      const TStopQuery& Stopped) {
  TAutorunLoadResult Result;
  try {
    Collect(Result.Entries, Stopped);
  } catch (...) {
    Result.Error = std::current_exception();
    Result.Stopped = true;
    return Result;
  }
  if (Stopped()) {
    Result.Stopped = true;
    return Result;
  }
  Result.Merge = MergeAutorunRows(Input.Rows, Result.Entries, Input.ShowAll, Input.FileWhite, Input.NameWhite);
  TLoadIcons Icons(Input.IconCache, Result);
  Result.NewRows.reserve(Result.Merge.Appended.size());
  Result.NewRowIcon.reserve(Result.Merge.Appended.size());
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
      std::map<std::wstring, std::wstring> Strings;
      GetFileVersionStrings(Entry.FileName, {L"ProductName"}, Strings);
      const auto Product = Strings.find(L"ProductName");
      if (Product != Strings.end() && !Product->second.empty()) Item.FileName = Product->second;
      Icons.Assign(Entry.FileName, Item, NewIcon);
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
  auto* WorkerReference = new std::shared_ptr<TAutorunLoadJob>(Job);
  Job->FThread.reset(::CreateThread(nullptr, 0, ThreadProc, WorkerReference, 0, nullptr));
  if (!Job->FThread) {
    delete WorkerReference;
    return nullptr;
  }
  return Job;
}

DWORD WINAPI TAutorunLoadJob::ThreadProc(void* Parameter) {
  std::unique_ptr<std::shared_ptr<TAutorunLoadJob>> Reference(static_cast<std::shared_ptr<TAutorunLoadJob>*>(Parameter));
  (*Reference)->Run();
  return 0;
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
