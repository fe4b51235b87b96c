// Merging the start-up answer's rows into the protection lists.
#include "clean/protection_list.h"

#include "base/utf.h"

namespace nimbrel {

void MergeListFromJson(TStringList& List, const nlohmann::json& Object, const std::string& Member) {
  if (!Object.is_object()) return;
  const auto Found = Object.find(Member);
  if (Found == Object.end() || !Found->is_array()) return;
  for (const auto& Element : *Found) {
    std::wstring Row = Utf8ToWide(Element.is_string() ? Element.get_ref<const std::string&>()
                                                      : Element.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    if (ListIndexOf(List, Row) < 0) List.push_back(std::move(Row));
  }
}

}  // namespace nimbrel
