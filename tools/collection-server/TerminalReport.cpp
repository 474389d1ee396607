#include "TerminalReport.h"

#include <sstream>

#include "Formatting.h"

namespace {

constexpr size_t kShownCharacters = 60;

// Control characters from the app would move the cursor or recolour the terminal.
std::string printable(const std::string& text) { return terminalText(shortened(text, kShownCharacters)); }

void table(std::ostringstream& out, const char* title, const std::vector<Figures::Count>& counts) {
  out << "\n" << title << "\n";
  if (counts.empty()) out << "  none\n";
  for (const auto& c : counts) out << "  " << c.count << "  " << printable(c.label.empty() ? "(none)" : c.label) << "\n";
}

}  // namespace

std::string terminalReport(const Figures& f, const std::string& source) {
  std::ostringstream out;
  out << "Quibblers usage sessions in " << terminalText(source) << "\n\n";
  out << "sessions: " << f.sessions << "\ndevices: " << f.devices << "\nsub-sessions: " << f.subSessions
      << "\nmedian session length: " << (f.medianSeconds ? lengthText(*f.medianSeconds) : "none ended")
      << "\nsessions with the clock wrong: " << f.clockWrong << "\n";
  out << "\nSessions per day (UTC)\n";
  if (f.perDay.empty()) out << "  none\n";
  for (const auto& d : f.perDay) out << "  " << dayText(d.day) << "  " << d.sessions << "\n";
  table(out, "App versions", f.appVersions);
  table(out, "Machine types", f.machineTypes);
  table(out, "Most frequent sub-session names", f.subSessionNames);
  out << "\nLatest sessions received\n";
  if (f.latest.empty()) out << "  none\n";
  for (const auto& s : f.latest) {
    out << "  " << startedText(s) << "  " << sessionLengthText(s) << "  " << printable(s.applicationCode) << " "
        << printable(s.appVersion) << " on " << printable(s.deviceModel) << ", system " << printable(s.deviceOs)
        << ", " << s.subSessions << " sub-session(s)\n";
  }
  return out.str();
}
