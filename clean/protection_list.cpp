// Merging the start-up answer's rows into the protection lists.
#include "clean/protection_list.h"

#include "base/utf.h"

#include <utility>
#include <vector>

namespace nimbrel {

void MergeListFromJson(TStringList& List, const nlohmann::json& Object, const std::string& Member) {
  if (!Object.is_object()) return;
  const auto Found = Object.find(Member);
  if (Found == Object.end() || !Found->is_array()) return;
  for (const auto& Element : *Found) {
    if (JsonDeeperThan(Element, MaxJsonDepth)) continue;
    std::wstring Row = Utf8ToWide(Element.is_string() ? Element.get_ref<const std::string&>()
                                                      : Element.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    if (ListIndexOf(List, Row) < 0) List.push_back(std::move(Row));
  }
}

bool JsonDeeperThan(const nlohmann::json& Value, size_t Limit) {
  std::vector<std::pair<const nlohmann::json*, size_t>> Pending{{&Value, 0}};
  while (!Pending.empty()) {
    const auto [Node, Depth] = Pending.back();
    Pending.pop_back();
    if (!Node->is_structured()) continue;
    if (Depth + 1 > Limit) return true;
    for (const auto& Child : *Node) Pending.emplace_back(&Child, Depth + 1);
  }
  return false;
}

nlohmann::json ParseServiceAnswer(const std::string& Utf8) {
  nlohmann::json Answer = nlohmann::json::parse(Utf8, nullptr, false);
  if (Answer.is_discarded() || JsonDeeperThan(Answer, MaxJsonDepth)) return nlohmann::json(nlohmann::json::value_t::discarded);
  return Answer;
}

}  // namespace nimbrel
