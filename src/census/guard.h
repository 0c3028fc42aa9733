// What a file given as the result may be taken for, decided alike by both
// programs: whether a table is a password list's, and what an existing file
// that is no result of this tool's begins with.
#pragma once

#include <string>
#include <string_view>

#include "census/octetcensusmeter.h"

// How every result file begins: the only file the tool writes over is one
// that begins so (or is empty).
constexpr std::string_view report_beginning = "\r\nByte allocation: \r\n";

// The tables are a list's when the byte 0x0a occurs and no byte below 0x20
// other than 0x09, 0x0a and 0x0d occurs, nor 0x7f.
bool is_a_list(const Histogram& code);

// What an existing file that is not a result begins with, from its first
// bytes, for the refusal's reason: a password list (when the two names may
// have been swapped), other text, or binary data. Never a byte of it: the file
// may be the password file.
std::string not_a_result_because(std::string_view head);
