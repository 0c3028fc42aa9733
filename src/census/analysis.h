// The two passes over the input and the report.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "census/octetcensusmeter.h"

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
// while laeufer < laenge; the first byte of the input has no predecessor.
//
// Where zaehlwerk is Counter::bit_slices, stretches of 512 bytes go to the
// bit-sliced counter (sliced.h), which holds its counts in scheiben.
//
// The pair table takes the rest, and everything where the processor lacks
// those instructions: each pair of consecutive bytes costs one increment in a
// table of 65,536 32-bit counters (256 KiB, at home in the second-level
// cache), from which both histograms follow; runs of one value cost one add
// per eight bytes. Pairs are held in paare until fold_counts adds them to
// code and code2, before any counter could overflow and at the end of the
// pass; the bit-sliced counts go with them.
void count_block(AnalysisState& s, const unsigned char* bytes, std::size_t count);
void fold_counts(AnalysisState& s);

// The plain counter, one byte at a time straight into code and code2: what
// count_block followed by fold_counts must give.
void count_block_plainly(AnalysisState& s, const unsigned char* bytes, std::size_t count);

void find_upper_limit(AnalysisState& s, const Histogram& h);
void find_lower_limit(AnalysisState& s, const Histogram& h);
void calculate_average(AnalysisState& s, const Histogram& h);
