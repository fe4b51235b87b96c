// Checking the uploaded clean report with a streaming parser: each object is checked and taken
// into the report as soon as it closes, and nothing deeper than an array of flat objects is ever
// built, so neither a deep nesting nor many small objects or keys cost more than the report itself.
#include "report.h"

#include <array>
#include <charconv>
#include <nlohmann/json.hpp>
#include <unordered_set>
#include <utility>

#include "text.h"

namespace nimbrel::service {
namespace {

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

std::optional<std::int64_t> ParseInteger(const std::string& Text) {
  std::int64_t Value = 0;
  const char* End = Text.data() + Text.size();
  const auto [Stop, Failure] = std::from_chars(Text.data(), End, Value);
  if (Text.empty() || Failure != std::errc() || Stop != End) return std::nullopt;
  return Value;
}

// Reads an array of flat objects with string values into a report; refuses every other shape,
// and every object that breaks the report's rules, at the first event that shows it.
class TReportReader : public nlohmann::json_sax<nlohmann::json> {
 public:
  TReport Report;
  std::string Error;

  bool null() override { return Refuse("a value is not a string"); }
  bool boolean(bool) override { return Refuse("a value is not a string"); }
  bool number_integer(number_integer_t) override { return Refuse("a value is not a string"); }
  bool number_unsigned(number_unsigned_t) override { return Refuse("a value is not a string"); }
  bool number_float(number_float_t, const string_t&) override { return Refuse("a value is not a string"); }
  bool binary(binary_t&) override { return Refuse("a value is not a string"); }

  bool string(string_t& Value) override {
    if (FDepth != 2 || !FKeyPending) return Refuse("a string outside an object");
    // Only the keys of the four kinds are kept; others are read past.
    if (FKey == "cate" || IsKnownKey(FKey)) FValues.emplace_back(std::move(FKey), std::move(Value));
    FKeyPending = false;
    return true;
  }

  bool start_object(std::size_t) override {
    if (FDepth != 1) return Refuse("an object outside the top array");
    FDepth = 2;
    FValues.clear();
    FSeenKeys.clear();
    return true;
  }

  bool key(string_t& Key) override {
    if (!FSeenKeys.insert(Key).second) return Refuse("a key repeats in one object");
    FKey = std::move(Key);
    FKeyPending = true;
    return true;
  }

  bool end_object() override {
    FDepth = 1;
    return TakeObject();
  }

  bool start_array(std::size_t) override {
    if (FDepth != 0) return Refuse("a nested array");
    FDepth = 1;
    return true;
  }

  bool end_array() override {
    FDepth = 0;
    if (FObjects == 0) return Refuse("no memory object");
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return Refuse("not JSON");
  }

 private:
  int FDepth = 0;
  std::string FKey;
  bool FKeyPending = false;  // a key was read and its value is due
  std::vector<std::pair<std::string, std::string>> FValues;  // the current object's kept members
  std::unordered_set<std::string> FSeenKeys;                  // every key of the current object
  size_t FObjects = 0;
  size_t FPreviousKind = 0;

  static bool IsKnownKey(std::string_view Key) {
    for (const TKind& Kind : Kinds) {
      for (const std::string_view Known : Kind.Keys) {
        if (!Known.empty() && Known == Key) return true;
      }
    }
    return false;
  }

  const std::string* Member(std::string_view Name) const {
    for (const auto& [Key, Value] : FValues) {
      if (Key == Name) return &Value;
    }
    return nullptr;
  }

  bool Refuse(std::string Why) {
    if (Error.empty()) Error = std::move(Why);
    return false;
  }

  bool TakeObject() {
    const std::string* Cate = Member("cate");
    if (Cate == nullptr) return Refuse("an object without \"cate\"");
    size_t Kind = 0;
    while (Kind < Kinds.size() && Kinds[Kind].Cate != *Cate) ++Kind;
    if (Kind == Kinds.size()) return Refuse("an unknown kind: " + *Cate);
    if ((FObjects == 0) != (Kind == 0)) return Refuse("the memory object must come first, once");
    if (Kind < FPreviousKind) return Refuse("kinds out of order");
    std::array<const std::string*, 3> Values{};
    for (size_t I = 0; I < Values.size(); ++I) {
      if (Kinds[Kind].Keys[I].empty()) continue;
      Values[I] = Member(Kinds[Kind].Keys[I]);
      if (Values[I] == nullptr) return Refuse(*Cate + " object without \"" + std::string(Kinds[Kind].Keys[I]) + "\"");
    }
    ++FObjects;
    FPreviousKind = Kind;
    switch (Kind) {
      case 0: {
        const auto Before = ParseInteger(*Values[0]);
        const auto After = ParseInteger(*Values[1]);
        const auto Total = ParseInteger(*Values[2]);
        if (!Before || !After || !Total) return Refuse("a memory figure is not a whole number");
        Report.Memory = {*Before, *After, *Total};
        return true;
      }
      case 1: {
        const auto State = ParseInteger(*Values[1]);
        if (!State || (*State != -1 && *State != -2 && *State != 1)) return Refuse("a process state is not 1, -2 or -1");
        Report.Processes.push_back({*Values[0], static_cast<TProcessState>(*State)});
        return true;
      }
      case 2:
        Report.Startup.push_back({*Values[0], *Values[1]});
        return true;
      default:
        Report.Installed.push_back({*Values[0], *Values[1]});
        return true;
    }
  }
};

TReportCheck Refused(std::string Why) { return {std::nullopt, std::move(Why)}; }

TReportCheck CheckReportShape(std::string_view Body) {
  if (!IsValidUtf8(Body)) return Refused("not UTF-8");
  TReportReader Reader;
  if (!nlohmann::json::sax_parse(Body, &Reader)) return Refused(Reader.Error.empty() ? "not JSON" : Reader.Error);
  return {std::move(Reader.Report), {}};
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
