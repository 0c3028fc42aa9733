// Text shared by everything the chart program says: printf into a string of
// any length, names made safe for each kind of output, and counts written short.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// printf into a string, as long as it needs to be.
std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

inline unsigned long long as_llu(std::uint64_t v) { return v; }

// A name as UTF-8 that every reader takes: each byte that does not belong to a
// well-formed character, each surrogate and U+FFFE and U+FFFF become U+FFFD.
std::string clean_utf8(std::string_view s);

// For the SVG: cleaned, the five XML specials as entities, and the control
// characters XML does not allow as U+FFFD.
std::string xml_escaped(std::string_view s);

// For JSON: cleaned and quoted, with " and \ escaped and control characters as \u00XX.
std::string json_string(std::string_view s);

// An expected count, or a figure of that kind, as near as it means anything:
// 0.0123, 9.19, 1164, 1.845e+19.
std::string expected_count(double v);

// A probability as the words and the chart give it: "= 0.0143", or "< 1e-300"
// for one too small to tell from 0.
std::string p_shown(double p);

// a / b to this many decimals, rounded half up, exactly: a double would show
// 2^64 - 1 characters on one line as 18446744073709551616.00.
std::string exact_ratio(std::uint64_t a, std::uint64_t b, int decimals);

// A count as an axis label: 950, 1.5k, 15G, 18.4E (powers of 1000).
std::string short_count(double v);
