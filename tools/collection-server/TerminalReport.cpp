#include "TerminalReport.h"

#include <sstream>

#include "Formatting.h"

namespace {

// Control characters from the app would move the cursor or recolour the terminal.
std::string printable(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    out += byte < 0x20 || byte == 0x7f ? '?' : c;
  }
  return out;
}

void table(std::ostringstream& out, const char* title, const std::vector<Figures::Count>& counts) {
  out << "\n" << title << "\n";
  if (counts.empty()) out << "  none\n";
  for (const auto& c : counts) out << "  " << c.count << "  " << printable(c.label.empty() ? "(none)" : c.label) << "\n";
}

}  // namespace

std::string terminalReport(const Figures& f, const std::string& source) {
  std::ostringstream out;
  out << "Quibblers usage sessions in " << printable(source) << "\n\n";
  out << "sessions: " << f.sessions << "\ndevices: " << f.devices << "\nsub-sessions: " << f.subSessions
      << "\nmedian session length: " << (f.medianSeconds ? lengthText(*f.medianSeconds) : "none ended") << "\n";
  out << "\nSessions per day (UTC)\n";
  if (f.perDay.empty()) out << "  none\n";
  for (const auto& d : f.perDay) out << "  " << dayText(d.day) << "  " << d.sessions << "\n";
  table(out, "App versions", f.appVersions);
  table(out, "Machine types", f.machineTypes);
  table(out, "Most frequent sub-session names", f.subSessionNames);
  out << "\nLatest sessions\n";
  if (f.latest.empty()) out << "  none\n";
  for (const auto& s : f.latest) {
    out << "  " << minuteText(s.started) << "  "
        << (s.stopped && *s.stopped >= s.started ? lengthText(static_cast<double>(*s.stopped - s.started))
                                                 : "not ended")
        << "  " << printable(s.applicationCode) << " " << printable(s.appVersion) << " on "
        << printable(s.deviceModel) << ", system " << printable(s.deviceOs) << ", " << s.subSessions
        << " sub-session(s)\n";
  }
  return out.str();
}
