#pragma once
#include <optional>
#include <string>

// The first column of the first row of `sql` run on the SQLite file `path`, opened read-only;
// none when the file cannot be opened or the query gives no row.
std::optional<int> queryInt(const std::string& path, const std::string& sql);
