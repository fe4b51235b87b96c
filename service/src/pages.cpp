// Building the pages.
#include "pages.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "html.h"
#include "page_text.h"
#include "text.h"

namespace nimbrel::service {
namespace {

void Append(std::string& Out, std::initializer_list<std::string_view> Parts) {
  for (const std::string_view Part : Parts) Out += Part;
}

std::string Text(TText Id, TLanguage Language) { return EscapeHtml(PageText(Id, Language)); }

std::string Figure(std::int64_t Bytes, TLanguage Language) {
  return Bytes < 0 ? Text(TText::Unknown, Language) : FormatBytes(Bytes);
}

// Freed memory: how much more was available after than before; unknown when either is.
std::string Freed(const TMemoryFigures& Memory, TLanguage Language) {
  if (Memory.Before < 0 || Memory.After < 0) return Text(TText::Unknown, Language);
  const std::int64_t Difference = Memory.After - Memory.Before;
  return Difference < 0 ? "\xE2\x88\x92" + FormatBytes(-Difference) : FormatBytes(Difference);
}

// A bar of the total memory: the part available before in blue, the part the clean added in green.
std::string MemoryBar(const TMemoryFigures& Memory) {
  if (Memory.Before < 0 || Memory.After < 0 || Memory.Total <= 0) return {};
  const auto Share = [&](std::int64_t Bytes) {
    return std::clamp(static_cast<double>(Bytes) / static_cast<double>(Memory.Total), 0.0, 1.0) * 600.0;
  };
  char Svg[512];
  std::snprintf(Svg, sizeof Svg,
                "<svg class=\"bar\" viewBox=\"0 0 600 18\" width=\"100%%\" height=\"18\" preserveAspectRatio=\"none\" "
                "aria-hidden=\"true\"><rect width=\"600\" height=\"18\" rx=\"4\" fill=\"#e3e7ed\"/>"
                "<rect width=\"%.1f\" height=\"18\" fill=\"#2e9d5b\"/><rect width=\"%.1f\" height=\"18\" "
                "fill=\"#1b5fc1\"/></svg>",
                Share(Memory.After), Share(Memory.Before));
  return Svg;
}

// The legend swatch drawn beside a figure that the bar shows.
std::string Swatch(const char* Colour) {
  return std::string("<svg width=\"10\" height=\"10\" aria-hidden=\"true\"><rect width=\"10\" height=\"10\" "
                     "rx=\"2\" fill=\"") +
         Colour + "\"/></svg> ";
}

void AppendMemory(std::string& Out, const TMemoryFigures& Memory, TLanguage Language) {
  const std::string Bar = MemoryBar(Memory);
  // The swatches name the bar's colours; without a bar there is nothing for them to name.
  const auto Key = [&](const char* Colour) { return Bar.empty() ? std::string() : Swatch(Colour); };
  Append(Out, {"<section><h2>", Text(TText::Memory, Language), "</h2>", Bar, "<table>"});
  const std::array<std::pair<TText, std::string>, 4> Rows = {{
      {TText::AvailableBefore, Key("#1b5fc1") + Figure(Memory.Before, Language)},
      {TText::AvailableAfter, Figure(Memory.After, Language)},
      {TText::Freed, Key("#2e9d5b") + Freed(Memory, Language)},
      {TText::TotalMemory, Figure(Memory.Total, Language)},
  }};
  for (const auto& [Label, Value] : Rows) {
    Append(Out, {"<tr><th>", Text(Label, Language), "</th><td class=\"num\"><span dir=\"ltr\">", Value,
                 "</span></td></tr>"});
  }
  Out += "</table></section>";
}

constexpr std::array<std::pair<TProcessState, TText>, 3> StateOrder = {{
    {TProcessState::Ended, TText::Ended},
    {TProcessState::StillRunning, TText::StillRunning},
    {TProcessState::LeftAlone, TText::LeftAlone},
}};

std::string_view StateClass(TProcessState State) {
  switch (State) {
    case TProcessState::Ended: return "s-1";
    case TProcessState::StillRunning: return "s-2";
    case TProcessState::LeftAlone: break;
  }
  return "s1";
}

void AppendProcesses(std::string& Out, const std::vector<TProcessRow>& Processes, TLanguage Language) {
  Append(Out, {"<section><h2>", Text(TText::Processes, Language), "</h2><ul class=\"counts\">"});
  for (const auto& [State, Label] : StateOrder) {
    const auto Count = std::count_if(Processes.begin(), Processes.end(), [&](const auto& Row) { return Row.State == State; });
    Append(Out, {"<li class=\"", StateClass(State), "\"><b>", std::to_string(Count), "</b>", Text(Label, Language), "</li>"});
  }
  Out += "</ul>";
  if (Processes.empty()) {
    Out += "</section>";
    return;
  }
  Append(Out, {"<table><tr><th>", Text(TText::Program, Language), "</th><th>", Text(TText::State, Language), "</th></tr>"});
  for (const auto& [State, Label] : StateOrder) {
    for (const TProcessRow& Row : Processes) {
      if (Row.State != State) continue;
      Append(Out, {"<tr><td><span dir=\"ltr\">", EscapeHtml(Row.File), "</span></td><td class=\"", StateClass(State), "\">",
                   Text(Label, Language), "</td></tr>"});
    }
  }
  Out += "</table></section>";
}

void AppendStartup(std::string& Out, const std::vector<TStartRow>& Startup, TLanguage Language) {
  if (Startup.empty()) return;
  Append(Out, {"<section><h2>", Text(TText::StartupEntries, Language), " (", std::to_string(Startup.size()),
               ")</h2><table><tr><th>", Text(TText::Program, Language), "</th><th>", Text(TText::Source, Language),
               "</th></tr>"});
  for (const TStartRow& Row : Startup) {
    const auto Label = SourceLabel(Row.From, Language);
    const std::string_view Name = ItemFileName(Row.Item);
    Out += "<tr><td>";
    if (HasEntryPage(Row.From, Name)) {
      Append(Out, {"<a dir=\"ltr\" href=\"/entry/", PercentEncodeSegment(LowerUtf8(Row.From)), "/",
                   PercentEncodeSegment(Name), "\">", EscapeHtml(Row.Item), "</a>"});
    } else {
      Append(Out, {"<span dir=\"ltr\">", EscapeHtml(Row.Item), "</span>"});
    }
    Append(Out, {"</td><td>", EscapeHtml(Label ? *Label : Row.From), "</td></tr>"});
  }
  Out += "</table></section>";
}

void AppendInstalled(std::string& Out, const std::vector<TInstallRow>& Installed, TLanguage Language) {
  if (Installed.empty()) return;
  Append(Out, {"<section><h2>", Text(TText::InstalledPrograms, Language), " (", std::to_string(Installed.size()),
               ")</h2><table><tr><th>", Text(TText::Program, Language), "</th><th>",
               Text(TText::Publisher, Language), "</th></tr>"});
  for (const TInstallRow& Row : Installed) {
    Append(Out, {"<tr><td dir=\"auto\">", EscapeHtml(Row.DisplayName), "</td><td dir=\"auto\">",
                 EscapeHtml(Row.Publisher), "</td></tr>"});
  }
  Out += "</table></section>";
}

}  // namespace

std::string FormatBytes(std::int64_t Bytes) {
  if (Bytes < 0) return {};
  constexpr double MiB = 1024.0 * 1024.0;
  char Text[32];
  if (Bytes >= 1024LL * 1024 * 1024) {
    std::snprintf(Text, sizeof Text, "%.1f GB", static_cast<double>(Bytes) / (MiB * 1024.0));
  } else {
    std::snprintf(Text, sizeof Text, "%.0f MB", static_cast<double>(Bytes) / MiB);
  }
  return Text;
}

namespace {

// The text that names the source From (any letter case), if it is one.
std::optional<TText> SourceText(const std::string& From) {
  constexpr std::array<std::pair<std::string_view, TText>, 5> Sources = {{
      {"file", TText::SourceFile},
      {"hklm", TText::SourceHklm},
      {"hkcu", TText::SourceHkcu},
      {"sche", TText::SourceSche},
      {"serv", TText::SourceServ},
  }};
  const std::string Code = LowerUtf8(From);
  for (const auto& [Name, Label] : Sources) {
    if (Code == Name) return Label;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> SourceLabel(const std::string& From, TLanguage Language) {
  const std::optional<TText> Label = SourceText(From);
  if (!Label) return std::nullopt;
  return std::string(PageText(*Label, Language));
}

// Read for every startup row of every upload: the label's text is not made.
bool HasEntryPage(const std::string& From, std::string_view Name) {
  return !Name.empty() && Name != "." && Name != ".." && SourceText(From).has_value();
}

std::string ReportPage(const TReport& Report, TLanguage Language, int RetentionDays) {
  std::string Body;
  Append(Body, {"<h1>", Text(TText::ReportTitle, Language), "</h1>"});
  AppendMemory(Body, Report.Memory, Language);
  AppendProcesses(Body, Report.Processes, Language);
  AppendStartup(Body, Report.Startup, Language);
  AppendInstalled(Body, Report.Installed, Language);
  Append(Body, {"<p class=\"note\">", EscapeHtml(PageText(TText::Retention, Language, RetentionDays)), "</p>"});
  return HtmlPage(Language, PageText(TText::ReportTitle, Language), Body);
}

std::string EntryPage(const TEntryView& Entry, TLanguage Language) {
  const auto Source = SourceLabel(Entry.From, Language);
  // A control that overrides the direction would turn the heading and the page's title around.
  const std::string Name = WithoutBidiControls(Entry.Name);
  std::string Body;
  Append(Body, {"<h1 dir=\"auto\">", EscapeHtml(Name), "</h1><section><table><tr><th>",
                Text(TText::EntryTitle, Language), "</th><td dir=\"auto\">", EscapeHtml(Name),
                "</td></tr><tr><th>", Text(TText::Source, Language), "</th><td>",
                EscapeHtml(Source ? *Source : Entry.From), "</td></tr></table></section><section><h2>",
                Text(TText::Description, Language), "</h2><p>",
                Entry.Description ? EscapeHtml(*Entry.Description) : Text(TText::NoDescription, Language),
                "</p>"});
  if (Entry.ReportCount) {
    Append(Body, {"<p class=\"note\">", EscapeHtml(PageText(TText::ListedIn, Language, *Entry.ReportCount)), "</p>"});
  }
  Body += "</section>";
  return HtmlPage(Language, Name, Body);
}

std::string HomePage(TLanguage Language) {
  std::string Body;
  Append(Body, {"<h1>Nimbrel</h1><section><p>", Text(TText::HomeTagline, Language), "</p><ul>"});
  for (const TText Item : {TText::HomeClean, TText::HomeStartup, TText::HomeBundle}) {
    Append(Body, {"<li>", Text(Item, Language), "</li>"});
  }
  Body += "</ul></section>";
  return HtmlPage(Language, "Nimbrel", Body);
}

std::string NotFoundPage(TLanguage Language) {
  std::string Body;
  Append(Body, {"<h1>", Text(TText::NotFoundTitle, Language), "</h1><section><p>", Text(TText::NotFoundText, Language),
                "</p><p><a href=\"/nimbrel\">", Text(TText::About, Language), "</a></p></section>"});
  return HtmlPage(Language, PageText(TText::NotFoundTitle, Language), Body);
}

}  // namespace nimbrel::service
