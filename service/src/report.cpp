// Checking the uploaded clean report with a streaming parser: each object is checked and taken
// into the report as soon as it closes, and nothing deeper than an array of flat objects is ever
// built, so neither a deep nesting nor many small objects or keys cost more than the report itself.
// A plain upload is read by a scanner of its own; the JSON library reads every other, for its error.
#include "report.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <charconv>
#include <nlohmann/json.hpp>
#include <unordered_set>
#include <utility>

#include "text.h"

namespace nimbrel::service {
namespace {

// The members a report keeps; every other key is read past. Slot 0, "cate", names the kind.
constexpr std::array<std::string_view, 10> Members = {"cate", "old",  "new",  "tot",         "file",
                                                      "state", "item", "from", "displayname", "publisher"};
constexpr int NoMember = -1;
constexpr long ReplacementCharacter = 0xFFFD;

constexpr int MemberSlot(std::string_view Key) {
  for (size_t Slot = 0; Slot < Members.size(); ++Slot) {
    if (Members[Slot] == Key) return static_cast<int>(Slot);
  }
  return NoMember;
}

// Whether Key is Name, compared at a length known when compiling, so that no library call is made.
template <size_t N>
bool IsKey(std::string_view Key, const char (&Name)[N]) {
  return Key.size() == N - 1 && std::char_traits<char>::compare(Key.data(), Name, N - 1) == 0;
}

// MemberSlot for every key of an upload.
int KeySlot(std::string_view Key) {
  constexpr std::array<int, 10> Slots = {MemberSlot("cate"),  MemberSlot("old"),  MemberSlot("new"),
                                         MemberSlot("tot"),   MemberSlot("file"), MemberSlot("state"),
                                         MemberSlot("item"),  MemberSlot("from"), MemberSlot("displayname"),
                                         MemberSlot("publisher")};
  static_assert(Slots.size() == Members.size() && std::find(Slots.begin(), Slots.end(), NoMember) == Slots.end(),
                "every member is looked for");
  if (IsKey(Key, "cate")) return Slots[0];
  if (IsKey(Key, "old")) return Slots[1];
  if (IsKey(Key, "new")) return Slots[2];
  if (IsKey(Key, "tot")) return Slots[3];
  if (IsKey(Key, "file")) return Slots[4];
  if (IsKey(Key, "state")) return Slots[5];
  if (IsKey(Key, "item")) return Slots[6];
  if (IsKey(Key, "from")) return Slots[7];
  if (IsKey(Key, "displayname")) return Slots[8];
  if (IsKey(Key, "publisher")) return Slots[9];
  return NoMember;
}

// The kinds in the order a report holds them, with the members each must have.
struct TKind {
  std::string_view Cate;
  std::array<int, 3> Slots;
};
constexpr std::array<TKind, 4> Kinds = {{
    {"memory", {MemberSlot("old"), MemberSlot("new"), MemberSlot("tot")}},
    {"clean", {MemberSlot("file"), MemberSlot("state"), NoMember}},
    {"start", {MemberSlot("item"), MemberSlot("from"), NoMember}},
    {"install", {MemberSlot("displayname"), MemberSlot("publisher"), NoMember}},
}};

std::optional<std::int64_t> ParseInteger(const std::string& Text) {
  std::int64_t Value = 0;
  const char* End = Text.data() + Text.size();
  const auto [Stop, Failure] = std::from_chars(Text.data(), End, Value);
  if (Text.empty() || Failure != std::errc() || Stop != End) return std::nullopt;
  return Value;
}

// Reads an array of flat objects with string values into a report; refuses every other shape,
// and every object that breaks the report's rules, at the first event that shows it. Its buffers
// are kept from one object to the next, so an ordinary object costs no allocation beyond the texts
// it hands to the report.
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

  // Value is the parser's own buffer: a kept value is copied out of it rather than taken, so the
  // buffer keeps its room for the next string.
  bool string(string_t& Value) override {
    if (FDepth != 2 || !FKeyPending) return Refuse("a string outside an object");
    if (FKeySlot != NoMember) FValues[static_cast<size_t>(FKeySlot)].assign(Value);
    FKeyPending = false;
    return true;
  }

  bool start_object(std::size_t) override {
    if (FDepth != 1) return Refuse("an object outside the top array");
    FDepth = 2;
    FSeenMembers = 0;
    FOtherKeyCount = 0;
    if (!FManyOtherKeys.empty()) FManyOtherKeys.clear();
    return true;
  }

  bool key(string_t& Key) override {
    FKeySlot = KeySlot(Key);
    if (!SeeKey(Key)) return Refuse("a key repeats in one object");
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
  // Keys of one object that are not members are compared one by one up to this many, then hashed,
  // so that an object with very many keys still costs time in proportion to them.
  static constexpr size_t FewOtherKeys = 8;

  int FDepth = 0;
  int FKeySlot = NoMember;   // the member slot of the key just read
  bool FKeyPending = false;  // a key was read and its value is due
  // The current object's members by slot; a slot counts only while its bit in FSeenMembers is set.
  std::array<std::string, Members.size()> FValues;
  unsigned FSeenMembers = 0;
  // The current object's other keys: the first FewOtherKeys in FOtherKeys, all of them in
  // FManyOtherKeys once there are more.
  std::array<std::string, FewOtherKeys> FOtherKeys;
  size_t FOtherKeyCount = 0;
  std::unordered_set<std::string> FManyOtherKeys;
  size_t FObjects = 0;
  size_t FPreviousKind = 0;

  // Notes a key of the current object (FKeySlot already set from it); false when it was there before.
  bool SeeKey(const std::string& Key) {
    if (FKeySlot != NoMember) {
      const unsigned Bit = 1u << FKeySlot;
      if ((FSeenMembers & Bit) != 0) return false;
      FSeenMembers |= Bit;
      return true;
    }
    if (FOtherKeyCount < FewOtherKeys) {
      for (size_t I = 0; I < FOtherKeyCount; ++I) {
        if (FOtherKeys[I] == Key) return false;
      }
      FOtherKeys[FOtherKeyCount++] = Key;
      return true;
    }
    if (FOtherKeyCount == FewOtherKeys) {
      for (const std::string& Other : FOtherKeys) FManyOtherKeys.insert(Other);
    }
    ++FOtherKeyCount;
    return FManyOtherKeys.insert(Key).second;
  }

  const std::string* Member(int Slot) const {
    if ((FSeenMembers & (1u << Slot)) == 0) return nullptr;
    return &FValues[static_cast<size_t>(Slot)];
  }

  bool Refuse(std::string Why) {
    if (Error.empty()) Error = std::move(Why);
    return false;
  }

  // Checks the object just closed and moves its texts into the report.
  bool TakeObject() {
    const std::string* Cate = Member(MemberSlot("cate"));
    if (Cate == nullptr) return Refuse("an object without \"cate\"");
    size_t Kind = 0;
    while (Kind < Kinds.size() && Kinds[Kind].Cate != *Cate) ++Kind;
    if (Kind == Kinds.size()) return Refuse("an unknown kind: " + *Cate);
    if ((FObjects == 0) != (Kind == 0)) return Refuse("the memory object must come first, once");
    if (Kind < FPreviousKind) return Refuse("kinds out of order");
    std::array<std::string*, 3> Values{};
    for (size_t I = 0; I < Values.size(); ++I) {
      const int Slot = Kinds[Kind].Slots[I];
      if (Slot == NoMember) continue;
      if (Member(Slot) == nullptr) {
        return Refuse(*Cate + " object without \"" + std::string(Members[static_cast<size_t>(Slot)]) + "\"");
      }
      Values[I] = &FValues[static_cast<size_t>(Slot)];
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
        Report.Processes.push_back({std::move(*Values[0]), static_cast<TProcessState>(*State)});
        return true;
      }
      case 2:
        Report.Startup.push_back({std::move(*Values[0]), std::move(*Values[1])});
        return true;
      default:
        Report.Installed.push_back({std::move(*Values[0]), std::move(*Values[1])});
        return true;
    }
  }
};

// The end of the plain run of a JSON string's inside from From: the first quote, backslash or byte
// below 0x20 at or after From, or Text's size. Reads eight bytes at a time, as every byte of an
// upload's strings passes here twice (when checked and when written for storing).
size_t PlainRunEnd(std::string_view Text, size_t From) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t Ones = 0x0101010101010101, Highs = 0x8080808080808080;
    while (Text.size() - From >= 8) {
      std::uint64_t Word;
      std::memcpy(&Word, Text.data() + From, 8);
      // Each term's lowest set high bit marks the first byte that meets it; borrows may set bits
      // only above that one.
      const std::uint64_t Quote = Word ^ (Ones * '"'), Backslash = Word ^ (Ones * '\\');
      const std::uint64_t Found = ((Word - Ones * 0x20) & ~Word) | ((Quote - Ones) & ~Quote) |
                                  ((Backslash - Ones) & ~Backslash);
      if ((Found & Highs) != 0) return From + static_cast<size_t>(std::countr_zero(Found & Highs) / 8);
      From += 8;
    }
  }
  while (From < Text.size()) {
    const auto Byte = static_cast<unsigned char>(Text[From]);
    if (Byte < 0x20 || Byte == '"' || Byte == '\\') break;
    ++From;
  }
  return From;
}

TReportCheck Refused(std::string Why) { return {std::nullopt, std::move(Why)}; }

void AppendInteger(std::string& Out, std::int64_t Value) {
  char Digits[24];
  const auto Written = std::to_chars(Digits, Digits + sizeof Digits, Value);
  Out.append(Digits, Written.ptr);
}

// Appends Text as the inside of a JSON string, escaped the way nlohmann's dump() escapes it (the
// form stored reports already hold): \" \\ \b \f \n \r \t, other bytes below 0x20 as \u00xx in
// lower case, everything else (DEL, UTF-8) as it is. Text must be valid UTF-8.
void AppendJsonText(std::string& Out, std::string_view Text) {
  constexpr std::string_view Hex = "0123456789abcdef";
  size_t Plain = 0;  // start of the bytes not yet appended
  for (size_t I = PlainRunEnd(Text, 0); I < Text.size(); I = PlainRunEnd(Text, I + 1)) {
    const auto Byte = static_cast<unsigned char>(Text[I]);
    Out.append(Text.data() + Plain, I - Plain);
    Plain = I + 1;
    Out += '\\';
    switch (Byte) {
      case '"': Out += '"'; break;
      case '\\': Out += '\\'; break;
      case '\b': Out += 'b'; break;
      case '\f': Out += 'f'; break;
      case '\n': Out += 'n'; break;
      case '\r': Out += 'r'; break;
      case '\t': Out += 't'; break;
      default:
        Out += "u00";
        Out += Hex[Byte >> 4];
        Out += Hex[Byte & 15];
    }
  }
  Out.append(Text.data() + Plain, Text.size() - Plain);
}

// Reads the one shape a report has, in strict JSON: an array of objects whose values are all
// strings. It sends Reader the same events, with the same texts, as the JSON library's parser
// would, except that an escaped lone surrogate (legal in the Windows names the program reports,
// which it escapes one UTF-16 unit at a time) is read as U+FFFD where the library refuses the
// text. It gives up (false) at anything else: another kind of value, a syntax error, a byte below
// 0x20 in a string, or a refusal from Reader (whose Error then says why). Reader is spoilt then,
// and without its Error the library's parser must read the text again with a new one to give the
// error. Text must be valid UTF-8.
class TPlainReportScanner {
 public:
  explicit TPlainReportScanner(std::string_view Text) : FText(Text) {}

  bool Read(TReportReader& Reader) {
    SkipSpace();
    if (!Take('[') || !Reader.start_array(static_cast<std::size_t>(-1))) return false;
    do {
      SkipSpace();
      if (!Take('{') || !Reader.start_object(static_cast<std::size_t>(-1))) return false;
      do {
        SkipSpace();
        if (!ReadString() || !Reader.key(FString)) return false;
        SkipSpace();
        if (!Take(':')) return false;
        SkipSpace();
        if (!ReadString() || !Reader.string(FString)) return false;
        SkipSpace();
      } while (Take(','));
      if (!Take('}') || !Reader.end_object()) return false;
      SkipSpace();
    } while (Take(','));
    if (!Take(']') || !Reader.end_array()) return false;
    SkipSpace();
    return FAt == FText.size();
  }

 private:
  std::string_view FText;
  size_t FAt = 0;
  std::string FString;  // the last string read, kept for its room

  void SkipSpace() {
    while (FAt < FText.size() && (FText[FAt] == ' ' || FText[FAt] == '\n' || FText[FAt] == '\r' || FText[FAt] == '\t')) {
      ++FAt;
    }
  }

  bool Take(char Wanted) {
    if (FAt == FText.size() || FText[FAt] != Wanted) return false;
    ++FAt;
    return true;
  }

  // Reads a string from its opening quote into FString.
  bool ReadString() {
    if (!Take('"')) return false;
    FString.clear();
    while (true) {
      const size_t Start = FAt;
      FAt = PlainRunEnd(FText, FAt);
      FString.append(FText.data() + Start, FAt - Start);
      if (FAt == FText.size() || static_cast<unsigned char>(FText[FAt]) < 0x20) return false;
      if (FText[FAt++] == '"') return true;
      if (!ReadEscape()) return false;
    }
  }

  // Reads what follows a backslash in a string and appends what it stands for.
  bool ReadEscape() {
    if (FAt == FText.size()) return false;
    const char Escape = FText[FAt++];
    switch (Escape) {
      case '"': FString += '"'; return true;
      case '\\': FString += '\\'; return true;
      case '/': FString += '/'; return true;
      case 'b': FString += '\b'; return true;
      case 'f': FString += '\f'; return true;
      case 'n': FString += '\n'; return true;
      case 'r': FString += '\r'; return true;
      case 't': FString += '\t'; return true;
      case 'u': break;
      default: return false;
    }
    long Point = ReadHex4();
    if (Point < 0) return false;
    if (Point >= 0xD800 && Point <= 0xDBFF) {
      // A high surrogate makes a pair only with a low one escaped right after it; otherwise it
      // stands alone, and whatever follows is read on its own.
      const size_t After = FAt;
      const long Low = Take('\\') && Take('u') ? ReadHex4() : -1;
      if (Low >= 0xDC00 && Low <= 0xDFFF) {
        Point = 0x10000 + ((Point - 0xD800) << 10) + (Low - 0xDC00);
      } else {
        FAt = After;
        Point = ReplacementCharacter;
      }
    } else if (Point >= 0xDC00 && Point <= 0xDFFF) {
      Point = ReplacementCharacter;
    }
    AppendUtf8(FString, static_cast<unsigned long>(Point));
    return true;
  }

  // The four hexadecimal digits at FAt as a number; -1 when they are not there.
  long ReadHex4() {
    if (FText.size() - FAt < 4) return -1;
    long Value = 0;
    for (size_t I = 0; I < 4; ++I) {
      const char C = FText[FAt + I];
      const int Digit = C >= '0' && C <= '9' ? C - '0' : C >= 'a' && C <= 'f' ? C - 'a' + 10 : C >= 'A' && C <= 'F' ? C - 'A' + 10 : -1;
      if (Digit < 0) return -1;
      Value = Value * 16 + Digit;
    }
    FAt += 4;
    return Value;
  }
};

TReportCheck CheckReportShape(std::string_view Body) {
  if (!IsValidUtf8(Body)) return Refused("not UTF-8");
  // Nearly every upload is plain; the library's parser reads only the others, for its error.
  {
    TReportReader Reader;
    if (TPlainReportScanner(Body).Read(Reader)) return {std::move(Reader.Report), {}};
    if (!Reader.Error.empty()) return Refused(std::move(Reader.Error));
  }
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
  // Room for every text, the fixed part of each object, and a sixth more for escapes.
  size_t Size = 128;
  for (const auto& Row : Report.Processes) Size += 40 + Row.File.size();
  for (const auto& Row : Report.Startup) Size += 40 + Row.Item.size() + Row.From.size();
  for (const auto& Row : Report.Installed) Size += 56 + Row.DisplayName.size() + Row.Publisher.size();
  std::string Out;
  Out.reserve(Size + Size / 6);
  Out += R"([{"cate":"memory","old":")";
  AppendInteger(Out, Report.Memory.Before);
  Out += R"(","new":")";
  AppendInteger(Out, Report.Memory.After);
  Out += R"(","tot":")";
  AppendInteger(Out, Report.Memory.Total);
  Out += "\"}";
  for (const auto& Row : Report.Processes) {
    Out += R"(,{"cate":"clean","file":")";
    AppendJsonText(Out, Row.File);
    Out += R"(","state":")";
    AppendInteger(Out, static_cast<int>(Row.State));
    Out += "\"}";
  }
  for (const auto& Row : Report.Startup) {
    Out += R"(,{"cate":"start","item":")";
    AppendJsonText(Out, Row.Item);
    Out += R"(","from":")";
    AppendJsonText(Out, Row.From);
    Out += "\"}";
  }
  for (const auto& Row : Report.Installed) {
    Out += R"(,{"cate":"install","displayname":")";
    AppendJsonText(Out, Row.DisplayName);
    Out += R"(","publisher":")";
    AppendJsonText(Out, Row.Publisher);
    Out += "\"}";
  }
  Out += ']';
  return Out;
}

}  // namespace nimbrel::service
