#pragma once
// One upload of usage reports as readable text: the device, then each session and its
// sub-sessions with their times in UTC. The app's texts are made safe for a terminal.
#include <optional>
#include <string>
#include <string_view>

#include "Upload.h"

std::string describeUpload(const Upload& upload);

// The text for the decoded "beacons" form field, or none (and `error` set) when it is not an
// upload the collector would accept.
std::optional<std::string> describeUpload(std::string_view document, std::string& error);
