// Rows of the test tables: each row names itself; gtest prints that name and
// names the case after it.
#pragma once

#include <concepts>
#include <ostream>
#include <string>

struct Row {
  const char* name;
};

template <std::derived_from<Row> R>
void PrintTo(const R& row, std::ostream* os) {
  *os << row.name;
}

inline constexpr auto row_name = [](const auto& info) { return std::string(info.param.name); };
