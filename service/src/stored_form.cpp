// The stored form of a report.
#include "stored_form.h"

#include "pages.h"
#include "text.h"

namespace nimbrel::service {
namespace {

// What a report's rows take beyond their texts, in either store: the report row with its key and
// time indexes, and for each entry its count row and the index entries over it (two copies of
// its texts, a third in the table), with the room their pages keep free. Measured on both stores
// with reports of a hundred entries each; see the store tests' cap test.
constexpr std::int64_t ReportRowBytes = 192;
constexpr std::int64_t EntryRowBytes = 128;
constexpr std::int64_t EntryTextCopies = 4;

}  // namespace

TStoredForm MakeStoredForm(const TReport& Report) {
  TStoredForm Form;
  Form.Body = StoredReportText(Report);
  Form.Size = static_cast<std::int64_t>(Form.Body.size()) + ReportRowBytes;
  for (const TStartRow& Row : Report.Startup) {
    // Counts are only ever shown on entry pages.
    if (!HasEntryPage(Row.From, ItemFileName(Row.Item))) continue;
    auto Entry = std::make_pair(LowerUtf8(Row.From), LowerUtf8(ItemFileName(Row.Item)));
    const auto EntrySize =
        EntryRowBytes + EntryTextCopies * static_cast<std::int64_t>(Entry.first.size() + Entry.second.size());
    if (Form.Entries.insert(std::move(Entry)).second) Form.Size += EntrySize;
  }
  return Form;
}

}  // namespace nimbrel::service
