// The two passes over the input and the report.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "octetcensusmeter.h"

using Histogram = std::array<std::uint64_t, 256>;

// The length pass: measures the input into laenge, with a dot for every
// 5,000,000 reads.
void lese(AnalysisState& s);

// The histogram pass followed by the report.
void lese_schreibe(AnalysisState& s);

// Opens the input again, creates the result file and fills code and code2,
// with a running percentage. Returns with both files open.
void count_histograms(AnalysisState& s);

// Writes the result file and the console summary, then closes both files.
void write_report(AnalysisState& s);

// Counts one block of input bytes, as byte-at-a-time counting would: only
// while laeufer < laenge, the first byte of the input has no predecessor.
// Pairs are held in paare until fold_pairs adds them to code and code2.
void count_block(AnalysisState& s, const unsigned char* bytes, std::size_t count);
void fold_pairs(AnalysisState& s);

// Advances the percentage display by that many iterations of the pass.
void advance_progress(AnalysisState& s, std::uint64_t iterations);

void find_upper_limit(AnalysisState& s, const Histogram& h);
void find_lower_limit(AnalysisState& s, const Histogram& h);
void calculate_average(AnalysisState& s, const Histogram& h);
