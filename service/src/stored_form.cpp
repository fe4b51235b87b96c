// The stored form of a report.
#include "stored_form.h"

#include "text.h"

namespace nimbrel::service {

TStoredForm MakeStoredForm(const TReport& Report) {
  TStoredForm Form;
  Form.Body = StoredReportText(Report);
  Form.Size = static_cast<std::int64_t>(Form.Body.size());
  for (const TStartRow& Row : Report.Startup) {
    auto Entry = std::make_pair(LowerUtf8(Row.From), LowerUtf8(ItemFileName(Row.Item)));
    const auto EntrySize = static_cast<std::int64_t>(Entry.first.size() + Entry.second.size());
    if (Form.Entries.insert(std::move(Entry)).second) Form.Size += EntrySize;
  }
  return Form;
}

}  // namespace nimbrel::service
