#pragma once
// application/x-www-form-urlencoded values: every byte but ASCII letters, digits and "-._~" as
// %XX, so "&", "+", "%", "=" and any UTF-8 text survive a server's form decoding unchanged.
#include <string>
#include <string_view>

std::string formEncode(std::string_view value);

// UTF-16 code units in a UTF-8 text (a byte that is not valid UTF-8 counts as one unit).
size_t utf16Length(std::string_view utf8);

// The text with each ill-formed UTF-8 sequence (its maximal subpart, as Unicode recommends)
// replaced by U+FFFD; valid text comes back unchanged.
std::string withValidUtf8(std::string_view text);
