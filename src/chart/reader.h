// Reading a result file back, strictly: only what the tool writes is taken.
// The chart folder is the companion program; it includes the census's result
// format and the platform layer, and nothing includes it.
#pragma once

#include <cstdint>
#include <string>

#include "census/octetcensusmeter.h"

// The two tables of a result file.
struct Tables {
  Histogram code{};   // byte allocation
  Histogram code2{};  // byte diversification
};

// Why a text is not a result file: the line (counted from 1) and what was
// expected there. beginning is set when the very first lines are not a
// result's: the text is not a result file at all, not one that was edited.
struct ReadError {
  std::size_t line = 0;
  std::string expected;
  bool beginning = false;
};

// Reads the text of a result file, its lines ended by CR LF or all by LF alone.
// Every line must stand as the tool writes it and the summaries must agree with
// the tables. True with the tables filled in; false with the first fault.
bool read_result(const std::string& text, Tables& tables, ReadError& error);

// The limits as the tool finds them: the first value with the largest count
// (none above 0 leaves the value the search before it found, carried), then the
// first with the smallest. The byte table's search starts with 0x39 carried;
// the differences' with the value of the bytes' lower limit.
struct TableLimits {
  unsigned upper_value = 0, lower_value = 0;
  std::uint64_t upper = 0, lower = 0;
};
TableLimits limits_of(const Histogram& h, unsigned& carried);
void limits_of(const Tables& t, TableLimits& bytes, TableLimits& differences);
