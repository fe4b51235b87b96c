// The clean report that the desktop program uploads: its checked form, the check, and the text
// it is stored as.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nimbrel::service {

// The largest upload body taken, in bytes.
inline constexpr size_t MaxReportBytes = 4 * 1024 * 1024;

// Memory figures in bytes; a negative figure means the program could not have it.
struct TMemoryFigures {
  std::int64_t Before = -1;  // "old": available at the click
  std::int64_t After = -1;   // "new": available after the clean
  std::int64_t Total = -1;   // "tot"
};

// "state" of a process row.
enum class TProcessState { Ended = -1, StillRunning = -2, LeftAlone = 1 };

struct TProcessRow {
  std::string File;
  TProcessState State = TProcessState::LeftAlone;
};

struct TStartRow {
  std::string Item;
  std::string From;
};

struct TInstallRow {
  std::string DisplayName;
  std::string Publisher;
};

struct TReport {
  TMemoryFigures Memory;
  std::vector<TProcessRow> Processes;
  std::vector<TStartRow> Startup;
  std::vector<TInstallRow> Installed;
};

// Result of CheckReport: the report, or why it was refused.
struct TReportCheck {
  std::optional<TReport> Report;
  std::string Error;  // empty when Report is there
};

// Checks an upload body: at most MaxReportBytes, valid UTF-8, one JSON array of flat objects
// whose values are all strings, each with a "cate" of "memory", "clean", "start" or "install" in
// that order, the memory object first and only once, each kind's keys present (others ignored),
// memory figures as decimal integers and process states of 1, -2 or -1. Never throws.
TReportCheck CheckReport(std::string_view Body);

// A text that StoredReportText wrote, read back; empty when it does not pass the check (any size).
std::optional<TReport> ReadStoredReport(std::string_view Text);

// The report as compact JSON in the upload's own shape, without the ignored keys; CheckReport
// reads it back. The texts must be valid UTF-8, as CheckReport's are; they are written as they
// are, with only quotes, backslashes and control characters escaped, byte for byte as the texts
// already stored were written.
std::string StoredReportText(const TReport& Report);

}  // namespace nimbrel::service
