#pragma once
// The --help layout. The manual page and the shell completion are generated from this text, so it
// keeps one shape: "  --name VALUE" with at least two spaces before the description (or the
// description on the next line), the value's placeholder (FILE, DIR, N, {0,1,2}, ...) alone, and
// wrapped lines indented past the name column.
#include <CLI/CLI.hpp>

#include <cstddef>
#include <string>

// The width --help wraps to: COLUMNS when it holds a number, else the terminal's width when `fd`
// is a terminal, else 80; never narrower than 40 nor wider than 100 (long lines read badly).
std::size_t helpWidth(const char* columns, int fd);

// `text` in lines of at most `width` columns (a longer word stays whole), each but the first
// indented by `indent` spaces.
std::string wrapText(const std::string& text, std::size_t width, std::size_t indent);

// "  term" with `text` beside it from column `column` (below it when the term is too long),
// wrapped to `width`.
std::string termAndText(const std::string& term, const std::string& text, std::size_t column,
                        std::size_t width);

class HelpFormatter : public CLI::Formatter {
 public:
  explicit HelpFormatter(std::size_t width);
  std::string make_option(const CLI::Option* opt, bool isPositional) const override;
  std::string make_option_opts(const CLI::Option* opt) const override;
  std::string make_description(const CLI::App* app) const override;

 private:
  std::size_t width_;
};
