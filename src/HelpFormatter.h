#pragma once
// The --help layout. The manual page and the shell completion are generated from this text, so it
// keeps one shape: "  --name VALUE" with at least two spaces before the description (or the
// description on the next line), and the value's placeholder (FILE, DIR, N, ...) alone.
#include <CLI/CLI.hpp>

#include <string>

class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_option(const CLI::Option* opt, bool isPositional) const override;
  std::string make_option_opts(const CLI::Option* opt) const override;
};
