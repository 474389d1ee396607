#include "Dashboard.h"

#include <algorithm>
#include <sstream>

#include "Formatting.h"

namespace {

// Long texts from the app are cut, so the page stays small whatever was sent.
constexpr size_t kShownCharacters = 60;

std::string shown(const std::string& text) { return htmlEscape(shortened(text, kShownCharacters)); }

const char* const kStyle =
    "body{font:15px/1.4 sans-serif;margin:2em auto;max-width:60em;padding:0 1em;color:#222}"
    "h1{font-size:1.4em}h2{font-size:1.1em;margin-top:1.6em}"
    "table{border-collapse:collapse}td,th{padding:.2em .8em;text-align:left;border-bottom:1px solid #ddd}"
    "td{overflow-wrap:anywhere}td.n,th.n{text-align:right;white-space:nowrap}.totals td{font-size:1.2em}"
    "svg text{font:11px sans-serif;fill:#444}svg rect{fill:#c98a4b}";

std::string head(const std::string& title) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" + htmlEscape(title) +
         "</title><link rel=\"icon\" href=\"data:,\"><style>" + kStyle + "</style></head><body>\n";
}

void countTable(std::ostringstream& out, const char* title, const char* column, const char* counted,
                const char* id, const std::vector<Figures::Count>& counts) {
  out << "<h2>" << title << "</h2>\n";
  if (counts.empty()) {
    out << "<p>None yet.</p>\n";
    return;
  }
  out << "<table id=\"" << id << "\"><tr><th>" << column << "</th><th class=\"n\">" << counted << "</th></tr>\n";
  for (const auto& c : counts) {
    out << "<tr><td>" << (c.label.empty() ? "<i>(none)</i>" : shown(c.label)) << "</td><td class=\"n\">"
        << c.count << "</td></tr>\n";
  }
  out << "</table>\n";
}

void chart(std::ostringstream& out, const std::vector<Figures::Day>& days) {
  if (days.empty()) {
    out << "<p>No sessions yet.</p>\n";
    return;
  }
  const int width = 640, height = 200, top = 16, bottom = 40;
  const std::int64_t most = std::max_element(days.begin(), days.end(), [](auto& a, auto& b) {
                              return a.sessions < b.sessions;
                            })->sessions;
  const double slot = static_cast<double>(width) / static_cast<double>(days.size());
  out << "<svg id=\"per-day\" role=\"img\" aria-label=\"sessions per day\" width=\"" << width << "\" height=\""
      << height << "\" viewBox=\"0 0 " << width << " " << height << "\" xmlns=\"http://www.w3.org/2000/svg\">\n";
  for (size_t i = 0; i < days.size(); ++i) {
    const double bar = static_cast<double>(height - top - bottom) * static_cast<double>(days[i].sessions) /
                       static_cast<double>(std::max<std::int64_t>(most, 1));
    const double x = slot * static_cast<double>(i);
    const double y = height - bottom - bar;
    out << "<g><title>" << dayText(days[i].day) << ": " << days[i].sessions << " session(s)</title>"
        << "<rect x=\"" << x + slot * 0.15 << "\" y=\"" << y << "\" width=\"" << slot * 0.7 << "\" height=\"" << bar
        << "\"/><text x=\"" << x + slot / 2 << "\" y=\"" << y - 3 << "\" text-anchor=\"middle\">" << days[i].sessions
        << "</text>";
    // Dates under every bar while they fit, else under every few.
    const size_t every = std::max<size_t>(1, static_cast<size_t>(70 / std::max(slot, 1.0)) + 1);
    if (i % every == 0) {
      const std::string day = dayText(days[i].day);
      const std::string dayLabel = day.size() > 5 ? day.substr(5) : day;  // without the year
      out << "<text x=\"" << x + slot / 2 << "\" y=\"" << height - bottom + 16 << "\" text-anchor=\"middle\">"
          << dayLabel << "</text>";
    }
    out << "</g>\n";
  }
  out << "</svg>\n";
}

}  // namespace

std::string htmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string dashboardPage(const Figures& f, const std::string& source) {
  std::ostringstream out;
  out << head("Quibblers usage sessions");
  out << "<h1>Quibblers usage sessions</h1>\n<p>Stored in " << htmlEscape(source) << ". Times are UTC.</p>\n";
  out << "<table class=\"totals\"><tr><td>sessions</td><td class=\"n\" id=\"sessions\">" << f.sessions
      << "</td></tr><tr><td>devices</td><td class=\"n\" id=\"devices\">" << f.devices
      << "</td></tr><tr><td>sub-sessions</td><td class=\"n\" id=\"sub-sessions\">" << f.subSessions
      << "</td></tr><tr><td>median session length</td><td class=\"n\" id=\"median\">"
      << (f.medianSeconds ? lengthText(*f.medianSeconds) : "none ended")
      << "</td></tr><tr><td>sessions with the clock wrong</td><td class=\"n\" id=\"clock-wrong\">" << f.clockWrong
      << "</td></tr></table>\n";
  out << "<h2>Sessions per day</h2>\n";
  chart(out, f.perDay);
  countTable(out, "App versions", "version", "sessions", "versions", f.appVersions);
  countTable(out, "Machine types", "machine", "sessions", "machines", f.machineTypes);
  countTable(out, "Most frequent sub-session names", "name", "times", "names", f.subSessionNames);
  out << "<h2>Latest sessions received</h2>\n";
  if (f.latest.empty()) {
    out << "<p>None yet.</p>\n";
  } else {
    out << "<table id=\"latest\"><tr><th>started</th><th class=\"n\">length</th><th>application</th>"
           "<th>version</th><th>machine</th><th>system</th><th class=\"n\">sub-sessions</th></tr>\n";
    for (const auto& s : f.latest) {
      out << "<tr><td>" << startedText(s) << "</td><td class=\"n\">" << sessionLengthText(s) << "</td><td>"
          << shown(s.applicationCode) << "</td><td>" << shown(s.appVersion) << "</td><td>" << shown(s.deviceModel)
          << "</td><td>" << shown(s.deviceOs) << "</td><td class=\"n\">"
          << s.subSessions << "</td></tr>\n";
    }
    out << "</table>\n";
  }
  out << "</body></html>\n";
  return out.str();
}

std::string dashboardUnavailablePage(const std::string& reason) {
  return head("Quibblers usage sessions") + "<h1>Quibblers usage sessions</h1>\n<p>" + htmlEscape(reason) +
         "</p>\n</body></html>\n";
}
