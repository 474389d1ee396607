#pragma once
// `quibblers-collection-server report`: the dashboard's figures as plain text.
#include <string>

#include "SessionStore.h"

std::string terminalReport(const Figures& figures, const std::string& source);
