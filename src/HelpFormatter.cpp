#include "HelpFormatter.h"

#include <algorithm>

std::string HelpFormatter::make_option(const CLI::Option* opt, bool isPositional) const {
  const std::string name = "  " + make_option_name(opt, isPositional) + make_option_opts(opt);
  const std::string description = make_option_desc(opt);
  const std::size_t width = get_column_width();
  std::string line = name;
  if (name.size() + 2 > width) {
    line += "\n" + std::string(width, ' ');
  } else {
    line += std::string(width - name.size(), ' ');
  }
  return line + description + "\n";
}

// Only the placeholder: "Needs"/"Excludes" lists are said in the descriptions in words. A
// validator's name replaces the generic "TEXT" ("TEXT:FILE" reads "FILE").
std::string HelpFormatter::make_option_opts(const CLI::Option* opt) const {
  if (opt->get_type_size() == 0) return {};
  std::string type = opt->get_type_name();
  const auto colon = type.find(':');
  const bool validated = colon != std::string::npos && colon > 0 &&
                         std::all_of(type.begin(), type.begin() + static_cast<long>(colon),
                                     [](char c) { return c >= 'A' && c <= 'Z'; });
  if (validated) type = type.substr(0, colon) == "TEXT" ? type.substr(colon + 1) : type.substr(0, colon);
  return type.empty() ? std::string() : " " + type;
}
