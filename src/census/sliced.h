// The bit-sliced counter, for processors with AVX-512 (BW, VBMI, VPOPCNTDQ)
// and GFNI.
//
// 512 bytes at a time become eight bit-planes of 512 bits: plane j holds bit j
// of each byte. From them, 16 patterns tell where each high nibble is, 4 where
// each value of bits 2 and 3 is; a value's bytes are the AND of two of them,
// split by bits 0 and 1, and its count is a popcount. Eight stretches are
// counted together, their sums kept in registers; a high nibble, or a quarter
// of one, that none of their bytes has is skipped with its values. The
// differences between consecutive bytes are sliced and counted the same way.
//
// No scattered store per byte: text, which takes a few of the 256 values,
// costs well under one cycle per byte. Random bytes take all of them and cost
// about as much as the pair table, which count_block then leaves them to.
#pragma once

#include <cstddef>

#include "census/octetcensusmeter.h"

// The bytes it slices at once, and those it counts together (eight stretches).
constexpr std::size_t slice_stretch = 512;
constexpr std::size_t slice_group = 8 * slice_stretch;

// Whether this processor, and the system, run the bit-sliced counter.
bool bit_slices_run_here();

// Counts count bytes (a multiple of slice_stretch) whose predecessor is s.ch_alt into
// the lanes s.scheiben, which fold_slices adds to code and code2. Only where
// bit_slices_run_here(). Returns how many values it counted, of 512 (256
// bytes and 256 differences) for each slice_group: its work.
unsigned count_slices(AnalysisState& s, const unsigned char* bytes, std::size_t count);

// Adds the counts held in s.scheiben to code and code2 and empties them.
void fold_slices(AnalysisState& s);
