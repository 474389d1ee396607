#pragma once
// One upload of usage reports as readable text: the device, then each session and its
// sub-sessions with their times in UTC.
#include <optional>
#include <string>

// The text for the decoded "beacons" form field, or none (and `error` set) when it is not a
// report document.
std::optional<std::string> describeUpload(const std::string& document, std::string& error);
