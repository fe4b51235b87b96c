// Merging the start-up answer's rows into the protection lists.
#include "clean/protection_list.h"

#include "base/utf.h"

#include <unordered_set>
#include <utility>
#include <vector>

namespace nimbrel {
namespace {

// Thrown inside the parser to end the parse at once.
struct TParseStopped {};

}  // namespace

TListRows ListRowsFromJson(const nlohmann::json& Object, const std::string& Member, HANDLE Stop) {
  TListRows Result;
  if (!Object.is_object()) return Result;
  const auto Found = Object.find(Member);
  if (Found == Object.end() || !Found->is_array()) return Result;
  Result.Rows.reserve(Found->size());
  Result.Keys.reserve(Found->size());
  for (const auto& Element : *Found) {
    if (Stop != nullptr && Result.Rows.size() % 4096 == 4095 && ::WaitForSingleObject(Stop, 0) == WAIT_OBJECT_0) break;
    if (JsonDeeperThan(Element, MaxJsonDepth)) continue;
    std::wstring Row = Utf8ToWide(Element.is_string() ? Element.get_ref<const std::string&>()
                                                      : Element.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    Result.Keys.push_back(ListRowKey(Row));
    Result.Rows.push_back(std::move(Row));
  }
  return Result;
}

void MergeListRows(TStringList& List, TListRows Rows) {
  if (Rows.Rows.empty()) return;
  std::unordered_set<std::string> Held;
  Held.reserve(List.size() + Rows.Rows.size());
  for (const std::wstring& Row : List) Held.insert(ListRowKey(Row));
  for (size_t I = 0; I < Rows.Rows.size() && I < Rows.Keys.size(); ++I) {
    if (Held.insert(std::move(Rows.Keys[I])).second) List.push_back(std::move(Rows.Rows[I]));
  }
}

void MergeListFromJson(TStringList& List, const nlohmann::json& Object, const std::string& Member) {
  MergeListRows(List, ListRowsFromJson(Object, Member));
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

nlohmann::json ParseServiceAnswer(const std::string& Utf8, HANDLE Stop) {
  size_t Events = 0;
  // Depth counts the containers around the event, so an opening at Depth makes level Depth + 1.
  auto Check = [&](int Depth, nlohmann::json::parse_event_t Event, nlohmann::json&) {
    if ((Event == nlohmann::json::parse_event_t::object_start || Event == nlohmann::json::parse_event_t::array_start) &&
        static_cast<size_t>(Depth) >= MaxJsonDepth)
      throw TParseStopped{};
    if (Stop != nullptr && ++Events % 4096 == 0 && ::WaitForSingleObject(Stop, 0) == WAIT_OBJECT_0) throw TParseStopped{};
    return true;
  };
  try {
    return nlohmann::json::parse(Utf8, Check, false);
  } catch (const TParseStopped&) {
    return nlohmann::json(nlohmann::json::value_t::discarded);
  }
}

TServiceLists ReadServiceLists(const std::string& Utf8, HANDLE Stop) {
  const nlohmann::json Answer = ParseServiceAnswer(Utf8, Stop);
  TServiceLists Lists;
  if (Answer.is_discarded()) return Lists;
  Lists.FileWhite = ListRowsFromJson(Answer, "file_white", Stop);
  Lists.NameWhite = ListRowsFromJson(Answer, "name_white", Stop);
  Lists.NameBlack = ListRowsFromJson(Answer, "name_black", Stop);
  return Lists;
}

}  // namespace nimbrel
