// Building the start-up answer.
#include "init_answer.h"

#include <nlohmann/json.hpp>

namespace nimbrel::service {

bool IsHoldRequest(const TInitRequest& Request) { return Request.Command == "hold"; }

std::string BuildInitAnswer(const TConfig& Config, const TInitRequest& Request) {
  using nlohmann::ordered_json;
  ordered_json Answer = ordered_json::object();
  const auto Version = ParseVersion(Request.Version);
  if (Version && *Version < Config.LatestVersion) {
    if (!Config.DownloadUrl.empty()) Answer["update"] = Config.DownloadUrl;
    if (!Config.UpdateBarUrl.empty()) Answer["notify"] = Config.UpdateBarUrl;
    auto Notice = Config.Notices.find(Request.Language);
    if (Notice == Config.Notices.end()) Notice = Config.Notices.find("en");
    if (Notice != Config.Notices.end()) {
      Answer["info"] = {{"style", Notice->second.Style},
                        {"text", Notice->second.Text},
                        {"flag", Notice->second.Flag},
                        {"url", Notice->second.Url}};
    }
  }
  Answer["file_white"] = Config.FileWhite;
  Answer["name_white"] = Config.NameWhite;
  Answer["name_black"] = Config.NameBlack;
  return Answer.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

}  // namespace nimbrel::service
