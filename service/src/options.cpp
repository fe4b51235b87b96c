// Command-line parsing.
#include "options.h"

#include <charconv>

namespace nimbrel::service {

TOptionsParse ParseOptions(const std::vector<std::string>& Arguments) {
  TOptions Options;
  bool HaveData = false;
  for (size_t I = 0; I < Arguments.size(); ++I) {
    std::string Name = Arguments[I];
    std::optional<std::string> Value;
    if (const size_t Equal = Name.find('='); Name.starts_with("--") && Equal != std::string::npos) {
      Value = Name.substr(Equal + 1);
      Name.resize(Equal);
    }
    if (Name == "--help" || Name == "-h") {
      Options.Help = true;
      continue;
    }
    if (Name != "--listen" && Name != "--port" && Name != "--database" && Name != "--config" && Name != "--data") {
      return {std::nullopt, "unknown option " + Name};
    }
    if (!Value) {
      if (I + 1 == Arguments.size()) return {std::nullopt, Name + " needs a value"};
      Value = Arguments[++I];
    }
    if (Value->empty()) return {std::nullopt, Name + " needs a value"};
    if (Name == "--listen") {
      Options.Listen = *Value;
    } else if (Name == "--port") {
      int Port = -1;
      const auto [End, Failure] = std::from_chars(Value->data(), Value->data() + Value->size(), Port);
      if (Failure != std::errc() || End != Value->data() + Value->size() || Port < 0 || Port > 65535) {
        return {std::nullopt, "--port needs a number from 0 to 65535"};
      }
      Options.Port = Port;
    } else if (Name == "--database") {
      Options.Database = *Value;
    } else if (Name == "--config") {
      Options.Config = *Value;
    } else {
      Options.Data = *Value;
      HaveData = true;
    }
  }
  if (Options.Help) return {Options, {}};
  if (Options.Config.empty()) return {std::nullopt, "--config is required"};
  if (!HaveData) Options.Data = Options.Config.parent_path() / "data";
  return {Options, {}};
}

}  // namespace nimbrel::service
