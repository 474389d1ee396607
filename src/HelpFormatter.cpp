#include "HelpFormatter.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

std::size_t helpWidth(const char* columns, int fd) {
  std::size_t width = 80;
  char* end = nullptr;
  const long fromEnvironment = columns ? std::strtol(columns, &end, 10) : 0;
  winsize size{};
  if (columns && end != columns && *end == '\0' && fromEnvironment > 0) {
    width = static_cast<std::size_t>(fromEnvironment);
  } else if (isatty(fd) && ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    width = size.ws_col;
  }
  return std::clamp<std::size_t>(width, 40, 100);
}

std::string wrapText(const std::string& text, std::size_t width, std::size_t indent) {
  std::istringstream words(text);
  std::string word;
  std::string out;
  std::size_t lineLength = 0;
  while (words >> word) {
    if (lineLength > indent && lineLength + 1 + word.size() > width) {
      out += "\n" + std::string(indent, ' ');
      lineLength = indent;
    } else if (!out.empty()) {
      out += ' ';
      ++lineLength;
    }
    out += word;
    lineLength += word.size();
  }
  return out;
}

std::string termAndText(const std::string& term, const std::string& text, std::size_t column,
                        std::size_t width) {
  std::string line = "  " + term;
  if (line.size() + 2 > column) {
    line += "\n" + std::string(column, ' ');
  } else {
    line += std::string(column - line.size(), ' ');
  }
  // The first line of text starts at `column` too, so it wraps as the rest do.
  return line + wrapText(std::string(column, 'x') + " " + text, width, column).substr(column + 1) + "\n";
}

HelpFormatter::HelpFormatter(std::size_t width) : width_(width) {
  // A narrow terminal keeps most of its width for the descriptions.
  column_width(std::min<std::size_t>(30, width * 3 / 8));
}

std::string HelpFormatter::make_option(const CLI::Option* opt, bool isPositional) const {
  return termAndText(make_option_name(opt, isPositional) + make_option_opts(opt), make_option_desc(opt),
                     get_column_width(), width_);
}

// Only the placeholder: "Needs"/"Excludes" lists are said in the descriptions in words. A
// validator's name replaces the generic "TEXT" ("TEXT:FILE" reads "FILE"), and a validator's
// description after a placeholder ("N:INT in [1 - 3072]", "{0,1}:...") is dropped.
std::string HelpFormatter::make_option_opts(const CLI::Option* opt) const {
  if (opt->get_type_size() == 0) return {};
  std::string type = opt->get_type_name();
  const auto colon = type.find(':');
  const std::string head = colon == std::string::npos ? type : type.substr(0, colon);
  const bool word = !head.empty() && std::all_of(head.begin(), head.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
  const bool choices = head.size() > 2 && head.front() == '{' && head.back() == '}';
  if (colon != std::string::npos && (word || choices)) type = head == "TEXT" ? type.substr(colon + 1) : head;
  return type.empty() ? std::string() : " " + type;
}

std::string HelpFormatter::make_description(const CLI::App* app) const {
  const std::string description = app->get_description();
  return description.empty() ? std::string() : wrapText(description, width_, 0) + "\n";
}
