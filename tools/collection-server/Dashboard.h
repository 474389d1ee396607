#pragma once
// The page at GET /: the figures as HTML with an inline SVG chart; no scripts, no external
// assets, every text from the app escaped.
#include <string>

#include "SessionStore.h"

std::string dashboardPage(const Figures& figures, const std::string& source);
// A page that says the figures cannot be shown, and why.
std::string dashboardUnavailablePage(const std::string& reason);

// Text as HTML character data or attribute value.
std::string htmlEscape(const std::string& text);
