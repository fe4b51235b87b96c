// The service's command line.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace nimbrel::service {

struct TOptions {
  std::string Listen = "127.0.0.1";
  int Port = 8080;  // 0: any free port, printed at start
  std::filesystem::path Database = "nimbrel.sqlite";
  std::filesystem::path Config;  // required
  std::filesystem::path Data;    // the configuration's folder + "data" when not given
  bool Help = false;
};

struct TOptionsParse {
  std::optional<TOptions> Options;
  std::string Error;  // empty when Options is there
};

// Reads "--name VALUE" and "--name=VALUE" for --listen, --port (0 to 65535), --database, --config
// and --data, and --help; refuses unknown names, missing values and a missing --config.
TOptionsParse ParseOptions(const std::vector<std::string>& Arguments);

inline constexpr const char* Usage =
    "usage: nimbrel-service --config FILE [--listen ADDRESS] [--port N] [--database FILE] [--data FOLDER]\n";

}  // namespace nimbrel::service
