// Accept-Language parsing.
#include "language.h"

#include <charconv>

namespace nimbrel::service {
namespace {

constexpr std::array<std::string_view, LanguageCount> Codes = {"ko", "en", "ja", "zh", "ru", "it", "fr", "es", "ar"};

std::string_view Trim(std::string_view Text) {
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t')) Text.remove_prefix(1);
  while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t')) Text.remove_suffix(1);
  return Text;
}

char Lower(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }

// The weight of one "tag;q=0.8" item in thousandths: 1000 without "q", 0 when it cannot be read.
int Weight(std::string_view Parameters) {
  int Result = 1000;
  while (!Parameters.empty()) {
    const size_t Semicolon = Parameters.find(';');
    const std::string_view Parameter = Trim(Parameters.substr(0, Semicolon));
    Parameters = Semicolon == std::string_view::npos ? std::string_view() : Parameters.substr(Semicolon + 1);
    if (Parameter.size() < 2 || Lower(Parameter[0]) != 'q' || Parameter[1] != '=') continue;
    double Value = 0;
    const std::string_view Number = Parameter.substr(2);
    const auto [End, Failure] = std::from_chars(Number.data(), Number.data() + Number.size(), Value);
    if (Failure != std::errc() || End != Number.data() + Number.size() || Value < 0 || Value > 1) return 0;
    Result = static_cast<int>(Value * 1000 + 0.5);
  }
  return Result;
}

}  // namespace

std::string_view LanguageCode(TLanguage Language) { return Codes[static_cast<size_t>(Language)]; }

TLanguage PickLanguage(std::string_view AcceptLanguage) {
  TLanguage Best = TLanguage::En;
  int BestWeight = 0;
  while (!AcceptLanguage.empty()) {
    const size_t Comma = AcceptLanguage.find(',');
    const std::string_view Item = AcceptLanguage.substr(0, Comma);
    AcceptLanguage = Comma == std::string_view::npos ? std::string_view() : AcceptLanguage.substr(Comma + 1);
    const size_t Semicolon = Item.find(';');
    const std::string_view Tag = Trim(Item.substr(0, Semicolon));
    const int ItemWeight = Semicolon == std::string_view::npos ? 1000 : Weight(Item.substr(Semicolon + 1));
    if (ItemWeight <= BestWeight) continue;
    const std::string_view Primary = Tag.substr(0, Tag.find_first_of("-_"));
    if (Primary.size() != 2) continue;
    const char Code[2] = {Lower(Primary[0]), Lower(Primary[1])};
    for (size_t I = 0; I < Codes.size(); ++I) {
      if (Codes[I] == std::string_view(Code, 2)) {
        Best = static_cast<TLanguage>(I);
        BestWeight = ItemWeight;
        break;
      }
    }
  }
  return Best;
}

}  // namespace nimbrel::service
