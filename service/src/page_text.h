// Every text the pages show, in the nine languages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "language.h"

namespace nimbrel::service {

enum class TText {
  ReportTitle,
  Memory,
  AvailableBefore,
  AvailableAfter,
  TotalMemory,
  Freed,
  Unknown,
  Processes,
  Ended,
  StillRunning,
  LeftAlone,
  Program,
  State,
  StartupEntries,
  Source,
  InstalledPrograms,
  Publisher,
  NotFoundTitle,
  NotFoundText,
  EntryTitle,
  Description,
  NoDescription,
  ListedIn,  // holds "{n}"
  SourceFile,
  SourceHklm,
  SourceHkcu,
  SourceSche,
  SourceServ,
  HomeTagline,
  HomeClean,
  HomeStartup,
  HomeBundle,
  Retention,  // holds "{n}"
  About,
  Count_
};

std::string_view PageText(TText Text, TLanguage Language);

// PageText with "{n}" replaced by Number.
std::string PageText(TText Text, TLanguage Language, std::int64_t Number);

}  // namespace nimbrel::service
