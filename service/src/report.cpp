// Checking the uploaded clean report with a streaming parser: nothing deeper than an array of flat
// objects is ever built, so neither a deep nesting nor a large body can exhaust the stack.
#include "report.h"

#include <array>
#include <charconv>
#include <nlohmann/json.hpp>
#include <utility>

#include "text.h"

namespace nimbrel::service {
namespace {

using TFlatObject = std::vector<std::pair<std::string, std::string>>;

// Collects an array of flat objects with string values; refuses every other shape at its first event.
class TFlatArrayReader : public nlohmann::json_sax<nlohmann::json> {
 public:
  std::vector<TFlatObject> Objects;
  std::string Error;

  bool null() override { return Refuse("a value is not a string"); }
  bool boolean(bool) override { return Refuse("a value is not a string"); }
  bool number_integer(number_integer_t) override { return Refuse("a value is not a string"); }
  bool number_unsigned(number_unsigned_t) override { return Refuse("a value is not a string"); }
  bool number_float(number_float_t, const string_t&) override { return Refuse("a value is not a string"); }
  bool binary(binary_t&) override { return Refuse("a value is not a string"); }

  bool string(string_t& Value) override {
    if (FDepth != 2 || !FHaveKey) return Refuse("a string outside an object");
    Objects.back().back().second = std::move(Value);
    FHaveKey = false;
    return true;
  }

  bool start_object(std::size_t) override {
    if (FDepth != 1) return Refuse("an object outside the top array");
    FDepth = 2;
    Objects.emplace_back();
    return true;
  }

  bool key(string_t& Key) override {
    for (const auto& [Name, Value] : Objects.back()) {
      if (Name == Key) return Refuse("a key repeats in one object");
    }
    Objects.back().emplace_back(std::move(Key), std::string());
    FHaveKey = true;
    return true;
  }

  bool end_object() override {
    FDepth = 1;
    return true;
  }

  bool start_array(std::size_t) override {
    if (FDepth != 0) return Refuse("a nested array");
    FDepth = 1;
    return true;
  }

  bool end_array() override {
    FDepth = 0;
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return Refuse("not JSON");
  }

 private:
  int FDepth = 0;
  bool FHaveKey = false;

  bool Refuse(const char* Why) {
    if (Error.empty()) Error = Why;
    return false;
  }
};

const std::string* Member(const TFlatObject& Object, std::string_view Name) {
  for (const auto& [Key, Value] : Object) {
    if (Key == Name) return &Value;
  }
  return nullptr;
}

std::optional<std::int64_t> ParseInteger(const std::string& Text) {
  std::int64_t Value = 0;
  const char* End = Text.data() + Text.size();
  const auto [Stop, Failure] = std::from_chars(Text.data(), End, Value);
  if (Text.empty() || Failure != std::errc() || Stop != End) return std::nullopt;
  return Value;
}

// The kinds in the order a report holds them, with the keys each must have.
struct TKind {
  std::string_view Cate;
  std::array<std::string_view, 3> Keys;
};
constexpr std::array<TKind, 4> Kinds = {{
    {"memory", {"old", "new", "tot"}},
    {"clean", {"file", "state", ""}},
    {"start", {"item", "from", ""}},
    {"install", {"displayname", "publisher", ""}},
}};

// Adds one object of kind Index to Report; false when a value has the wrong form.
bool AddObject(TReport& Report, size_t Index, const TFlatObject& Object) {
  const auto Value = [&](size_t Key) -> const std::string& { return *Member(Object, Kinds[Index].Keys[Key]); };
  switch (Index) {
    case 0: {
      const auto Before = ParseInteger(Value(0));
      const auto After = ParseInteger(Value(1));
      const auto Total = ParseInteger(Value(2));
      if (!Before || !After || !Total) return false;
      Report.Memory = {*Before, *After, *Total};
      return true;
    }
    case 1: {
      const auto State = ParseInteger(Value(1));
      if (!State || (*State != -1 && *State != -2 && *State != 1)) return false;
      Report.Processes.push_back({Value(0), static_cast<TProcessState>(*State)});
      return true;
    }
    case 2:
      Report.Startup.push_back({Value(0), Value(1)});
      return true;
    default:
      Report.Installed.push_back({Value(0), Value(1)});
      return true;
  }
}

TReportCheck Refused(std::string Why) { return {std::nullopt, std::move(Why)}; }

}  // namespace

namespace {

TReportCheck CheckReportShape(std::string_view Body) {
  if (!IsValidUtf8(Body)) return Refused("not UTF-8");
  TFlatArrayReader Reader;
  if (!nlohmann::json::sax_parse(Body, &Reader)) return Refused(Reader.Error.empty() ? "not JSON" : Reader.Error);
  if (Reader.Objects.empty()) return Refused("no memory object");

  TReport Report;
  size_t Previous = 0;
  for (size_t I = 0; I < Reader.Objects.size(); ++I) {
    const TFlatObject& Object = Reader.Objects[I];
    const std::string* Cate = Member(Object, "cate");
    if (Cate == nullptr) return Refused("an object without \"cate\"");
    size_t Index = 0;
    while (Index < Kinds.size() && Kinds[Index].Cate != *Cate) ++Index;
    if (Index == Kinds.size()) return Refused("an unknown kind: " + *Cate);
    if ((I == 0) != (Index == 0)) return Refused("the memory object must come first, once");
    if (Index < Previous) return Refused("kinds out of order");
    for (const std::string_view Key : Kinds[Index].Keys) {
      if (!Key.empty() && Member(Object, Key) == nullptr) return Refused(*Cate + " object without \"" + std::string(Key) + "\"");
    }
    if (!AddObject(Report, Index, Object)) return Refused("a " + *Cate + " figure is not a valid number");
    Previous = Index;
  }
  return {std::move(Report), {}};
}

}  // namespace

TReportCheck CheckReport(std::string_view Body) {
  if (Body.size() > MaxReportBytes) return Refused("larger than 4 MiB");
  return CheckReportShape(Body);
}

std::optional<TReport> ReadStoredReport(std::string_view Text) { return CheckReportShape(Text).Report; }

std::string StoredReportText(const TReport& Report) {
  using nlohmann::ordered_json;
  ordered_json Array = ordered_json::array();
  Array.push_back({{"cate", "memory"},
                   {"old", std::to_string(Report.Memory.Before)},
                   {"new", std::to_string(Report.Memory.After)},
                   {"tot", std::to_string(Report.Memory.Total)}});
  for (const auto& Row : Report.Processes) {
    Array.push_back({{"cate", "clean"}, {"file", Row.File}, {"state", std::to_string(static_cast<int>(Row.State))}});
  }
  for (const auto& Row : Report.Startup) Array.push_back({{"cate", "start"}, {"item", Row.Item}, {"from", Row.From}});
  for (const auto& Row : Report.Installed) {
    Array.push_back({{"cate", "install"}, {"displayname", Row.DisplayName}, {"publisher", Row.Publisher}});
  }
  return Array.dump();
}

}  // namespace nimbrel::service
