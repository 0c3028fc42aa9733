// The bit-sliced counter, for processors with AVX-512 (BW, VBMI, VPOPCNTDQ)
// and GFNI.
//
// 512 bytes at a time become eight bit-planes of 512 bits: plane j holds bit j
// of each byte. The bytes of one value v are those where every plane agrees
// with v's bit, so v's count is the popcount of an AND of eight planes, each
// taken as it is or inverted. The ANDs are shared: sixteen for the low nibble,
// sixteen for the high one, and one more per value; a high nibble that no byte
// of the 512 has costs none of its sixteen values. The differences between
// consecutive bytes are sliced and counted the same way.
//
// No scattered store per byte, so text costs less than one cycle per byte;
// random bytes, with all 256 values in every 512, cost about as much as the
// pair table.
#pragma once

#include <cstddef>

#include "octetcensusmeter.h"

// Whether this processor, and the system, run the bit-sliced counter.
bool bit_slices_run_here();

// Counts count bytes (a multiple of 512) whose predecessor is s.ch_alt into
// the lanes s.scheiben, which fold_slices adds to code and code2. Only where
// bit_slices_run_here(). Returns how many values, of 512 a stretch (256
// bytes and 256 differences), it counted: its work.
unsigned count_slices(AnalysisState& s, const unsigned char* bytes, std::size_t count);

// Adds the counts held in s.scheiben to code and code2 and empties them.
void fold_slices(AnalysisState& s);
