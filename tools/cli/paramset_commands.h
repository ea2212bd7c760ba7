#pragma once
// The parameter set commands of tunavox-cli: backup, compare, restore, diff, set.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "paramset/param_runner.h"

namespace tunavox::cli {

int Backup(const std::vector<std::string>& args);
int Compare(const std::vector<std::string>& args);
int Restore(const std::vector<std::string>& args);
// Away from any device: two sets, or a set and the factory values; a set's values changed.
int Diff(const std::vector<std::string>& args);
int Set(const std::vector<std::string>& args);

// One ";"-separated line, fields quoted as CSV.
std::string Line(std::initializer_list<std::string> fields);
// The rows as compare prints them, then "Различий в настройках: …"; the exit status
// (0 same settings, 1 settings differ, 2 trouble).
int PrintComparison(const std::vector<TCompareRow>& rows, bool trouble);

} // namespace tunavox::cli
