#include "census/sliced.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <utility>

// The compiler's own intrinsics start some results from a deliberately
// undefined register, which its warnings take for a variable read before it
// is set.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// Only the functions below are built for these instructions; the program as a
// whole runs on any x86-64 and calls them only where the processor has them.
#define SLICED __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vpopcntdq,gfni")))
// Inlined into their caller, so that the bytes and planes they pass stay in
// registers and leave no copy on the stack.
#define SLICED_INLINE SLICED inline __attribute__((always_inline))

bool bit_slices_run_here() {
  __builtin_cpu_init();
  // The compiler's checks of AVX-512 include the system's: that it saves the
  // 512-bit registers on a switch.
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vpopcntdq") &&
         __builtin_cpu_supports("gfni");
}

namespace {

// Byte j of each eight-byte word of GF2P8AFFINEQB's result is bit j of each of
// the word's bytes, when the word is the matrix and byte j of the first
// operand is 1 << j.
constexpr std::uint64_t bit_j_in_byte_j = 0x8040201008040201;

// Turns the 64 bytes at a into eight 64-bit planes, word j of the result
// holding bit j of every byte (in an order that is the same for every plane).
SLICED_INLINE __m512i planes_of_64(__m512i a) {
  const __m512i gathered = _mm512_gf2p8affine_epi64_epi8(_mm512_set1_epi64(bit_j_in_byte_j), a, 0);
  // Byte j of word q holds plane j of the bytes of word q; byte q of word j
  // of the result takes it.
  alignas(64) static constexpr std::uint8_t word_j_from_byte_j[64] = {
      0,  8,  16, 24, 32, 40, 48, 56, 1,  9,  17, 25, 33, 41, 49, 57, 2,  10, 18, 26, 34, 42,
      50, 58, 3,  11, 19, 27, 35, 43, 51, 59, 4,  12, 20, 28, 36, 44, 52, 60, 5,  13, 21, 29,
      37, 45, 53, 61, 6,  14, 22, 30, 38, 46, 54, 62, 7,  15, 23, 31, 39, 47, 55, 63};
  return _mm512_permutexvar_epi8(_mm512_load_si512(word_j_from_byte_j), gathered);
}

// Transposes eight rows of eight words: word j of in[k] becomes word k of
// planes[j], so that plane j holds bit j of all 512 bytes.
SLICED_INLINE void transpose_words(const __m512i (&in)[8], __m512i (&planes)[8]) {
  __m512i even[4];
  __m512i odd[4];
  for (std::size_t r = 0; r < 4; ++r) {
    even[r] = _mm512_unpacklo_epi64(in[2 * r], in[2 * r + 1]);  // words 0 2 4 6 of two rows
    odd[r] = _mm512_unpackhi_epi64(in[2 * r], in[2 * r + 1]);   // words 1 3 5 7
  }
  const __m512i low_pairs = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0);
  const __m512i high_pairs = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
  // quad[h][w]: rows 4h to 4h + 3, holding words w and w + 4 of each.
  __m512i quad[2][4];
  for (std::size_t h = 0; h < 2; ++h) {
    quad[h][0] = _mm512_permutex2var_epi64(even[2 * h], low_pairs, even[2 * h + 1]);
    quad[h][2] = _mm512_permutex2var_epi64(even[2 * h], high_pairs, even[2 * h + 1]);
    quad[h][1] = _mm512_permutex2var_epi64(odd[2 * h], low_pairs, odd[2 * h + 1]);
    quad[h][3] = _mm512_permutex2var_epi64(odd[2 * h], high_pairs, odd[2 * h + 1]);
  }
  for (std::size_t w = 0; w < 4; ++w) {
    planes[w] = _mm512_shuffle_i64x2(quad[0][w], quad[1][w], 0x44);
    planes[w + 4] = _mm512_shuffle_i64x2(quad[0][w], quad[1][w], 0xee);
  }
}

// The 512 bits where bits 0, 1 and 2 of the byte are those of m.
template <int m>
SLICED_INLINE __m512i three_bits(__m512i b0, __m512i b1, __m512i b2) {
  // VPTERNLOGQ's truth table is indexed by (b2, b1, b0): one entry set.
  return _mm512_ternarylogic_epi64(b2, b1, b0, 1 << m);
}

// Stores at pattern[v * 8] the 512 bits where the nibble of the four planes
// b0 (its lowest bit) to b3 is v.
template <int... m>
SLICED_INLINE void store_nibbles(__m512i b0, __m512i b1, __m512i b2, __m512i b3,
                                 std::uint64_t* pattern, std::integer_sequence<int, m...>) {
  const __m512i low3[8] = {three_bits<m>(b0, b1, b2)...};
  for (std::size_t v = 0; v < 8; ++v) {
    _mm512_storeu_si512(pattern + 8 * v, _mm512_andnot_si512(b3, low3[v]));
    _mm512_storeu_si512(pattern + 8 * (v + 8), _mm512_and_si512(b3, low3[v]));
  }
}

// Stores at pattern[v * 8] the 512 bits where the two bits of planes b0 (the
// lower) and b1 are v.
SLICED_INLINE void store_two_bits(__m512i b0, __m512i b1, std::uint64_t* pattern) {
  // Truth tables indexed by (b1, b0, b0): entries 0, 3, 4 and 7.
  _mm512_storeu_si512(pattern, _mm512_ternarylogic_epi64(b1, b0, b0, 0x01));
  _mm512_storeu_si512(pattern + 8, _mm512_ternarylogic_epi64(b1, b0, b0, 0x08));
  _mm512_storeu_si512(pattern + 16, _mm512_ternarylogic_epi64(b1, b0, b0, 0x10));
  _mm512_storeu_si512(pattern + 24, _mm512_ternarylogic_epi64(b1, b0, b0, 0x80));
}

// What a stretch of 512 bytes leaves, 512 bits each: for each high nibble h,
// where the byte has it; for each value q of bits 2 and 3, where the byte has
// it; where bit 0 is set, where bit 1 is, and where both are.
constexpr std::size_t high_at = 0;
constexpr std::size_t quarter_at = std::size_t{16} * 8;
constexpr std::size_t low_bits_at = std::size_t{20} * 8;
constexpr std::size_t pattern_words = std::size_t{23} * 8;

// The patterns of the 512 bytes at p, or of their differences from their
// predecessors; the first byte's predecessor is given.
template <bool differences>
SLICED_INLINE void store_patterns(const unsigned char* p, unsigned char first_predecessor,
                                  std::uint64_t* patterns) {
  // Byte 0 of the result is byte 63 of the first operand, byte k byte k - 1
  // of the second: each byte's predecessor, where the byte before p may not
  // be read.
  alignas(64) static constexpr std::uint8_t one_back[64] = {
      63,  64,  65,  66,  67,  68,  69,  70,  71,  72,  73,  74,  75,  76,  77,  78,
      79,  80,  81,  82,  83,  84,  85,  86,  87,  88,  89,  90,  91,  92,  93,  94,
      95,  96,  97,  98,  99,  100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110,
      111, 112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126};
  __m512i row_planes[8];
  for (std::size_t r = 0; r < 8; ++r) {
    const __m512i now = _mm512_loadu_si512(p + 64 * r);
    if constexpr (differences) {
      const __m512i previous =
          r == 0 ? _mm512_permutex2var_epi8(_mm512_set1_epi8(static_cast<char>(first_predecessor)),
                                            _mm512_load_si512(one_back), now)
                 : _mm512_loadu_si512(p + 64 * r - 1);
      row_planes[r] = planes_of_64(
          _mm512_sub_epi8(_mm512_max_epu8(now, previous), _mm512_min_epu8(now, previous)));
    } else {
      row_planes[r] = planes_of_64(now);
    }
  }
  __m512i plane[8];
  transpose_words(row_planes, plane);
  store_nibbles(plane[4], plane[5], plane[6], plane[7], patterns + high_at,
                std::make_integer_sequence<int, 8>{});
  store_two_bits(plane[2], plane[3], patterns + quarter_at);
  _mm512_storeu_si512(patterns + low_bits_at, plane[0]);
  _mm512_storeu_si512(patterns + low_bits_at + 8, plane[1]);
  _mm512_storeu_si512(patterns + low_bits_at + 16, _mm512_and_si512(plane[0], plane[1]));
}

constexpr std::size_t stretch = slice_stretch;
constexpr std::size_t group = slice_group / slice_stretch;  // stretches counted together

// Adds to the lanes the counts in the patterns of a group of stretches. The
// bytes of high nibble h and bits 2 and 3 q are the AND of two patterns; of
// them, each sum over the stretches of the popcount of: all, those with bit 0
// set, with bit 1 set, with both, goes to lanes[(16 h + 4 q + i) * 8 + lane]
// for i = 0 to 3, from which fold_slices takes the four values' counts. The
// sums are kept in registers over the group and added to memory once. A high
// nibble, or a quarter of one, that none of the bytes has is skipped, and so
// are its values. Returns how many values were counted.
//
// The stretches are always a whole group, so that every loop over them is
// unrolled and its values stay in registers; a group cut short is made whole
// with patterns of nothing.
SLICED unsigned count_patterns(const std::uint64_t* patterns, std::uint64_t* lanes) {
  constexpr std::size_t stretches = group;
  unsigned counted = 0;
  for (std::size_t h = 0; h < 16; ++h) {
    __m512i high[group];
    __m512i any = _mm512_setzero_si512();
    for (std::size_t k = 0; k < stretches; ++k) {
      high[k] = _mm512_loadu_si512(patterns + k * pattern_words + high_at + h * 8);
      any = _mm512_or_si512(any, high[k]);
    }
    if (_mm512_test_epi64_mask(any, any) == 0) continue;
    for (std::size_t q = 0; q < 4; ++q) {
      __m512i both[group];  // high nibble h and bits 2 and 3 q
      any = _mm512_setzero_si512();
      for (std::size_t k = 0; k < stretches; ++k) {
        both[k] = _mm512_and_si512(
            high[k], _mm512_loadu_si512(patterns + k * pattern_words + quarter_at + q * 8));
        any = _mm512_or_si512(any, both[k]);
      }
      if (_mm512_test_epi64_mask(any, any) == 0) continue;
      for (std::size_t i = 0; i < 4; ++i) {
        __m512i sum = _mm512_setzero_si512();
        for (std::size_t k = 0; k < stretches; ++k) {
          const __m512i bytes =
              i == 0 ? both[k]
                     : _mm512_and_si512(both[k], _mm512_loadu_si512(patterns + k * pattern_words +
                                                                    low_bits_at + (i - 1) * 8));
          sum = _mm512_add_epi64(sum, _mm512_popcnt_epi64(bytes));
        }
        std::uint64_t* const at = lanes + (16 * h + 4 * q + i) * 8;
        _mm512_storeu_si512(at, _mm512_add_epi64(_mm512_loadu_si512(at), sum));
      }
      counted += 4;
    }
  }
  return counted;
}

}  // namespace

// Zeroes all 32 vector registers. They keep the last planes and patterns of
// the password after the counter returns, and code that saves them to the
// stack (a lazily bound call's resolver, a signal) would leave a copy there.
SLICED void clear_vector_registers() {
  __asm__ volatile(
      "vpxord %%zmm16, %%zmm16, %%zmm16\n\tvpxord %%zmm17, %%zmm17, %%zmm17\n\t"
      "vpxord %%zmm18, %%zmm18, %%zmm18\n\tvpxord %%zmm19, %%zmm19, %%zmm19\n\t"
      "vpxord %%zmm20, %%zmm20, %%zmm20\n\tvpxord %%zmm21, %%zmm21, %%zmm21\n\t"
      "vpxord %%zmm22, %%zmm22, %%zmm22\n\tvpxord %%zmm23, %%zmm23, %%zmm23\n\t"
      "vpxord %%zmm24, %%zmm24, %%zmm24\n\tvpxord %%zmm25, %%zmm25, %%zmm25\n\t"
      "vpxord %%zmm26, %%zmm26, %%zmm26\n\tvpxord %%zmm27, %%zmm27, %%zmm27\n\t"
      "vpxord %%zmm28, %%zmm28, %%zmm28\n\tvpxord %%zmm29, %%zmm29, %%zmm29\n\t"
      "vpxord %%zmm30, %%zmm30, %%zmm30\n\tvpxord %%zmm31, %%zmm31, %%zmm31\n\t"
      "vzeroall" ::
          : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10",
            "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "xmm16", "xmm17", "xmm18", "xmm19",
            "xmm20", "xmm21", "xmm22", "xmm23", "xmm24", "xmm25", "xmm26", "xmm27", "xmm28",
            "xmm29", "xmm30", "xmm31");
}

SLICED unsigned count_slices(AnalysisState& s, const unsigned char* bytes, std::size_t count) {
  std::uint64_t* const patterns = s.ebenen.data();
  unsigned counted = 0;
  for (std::size_t at = 0; at < count; at += group * stretch) {
    const std::size_t stretches = (count - at) / stretch < group ? (count - at) / stretch : group;
    const unsigned char* const p = bytes + at;
    for (std::size_t k = stretches; k < group; ++k) {
      std::fill_n(patterns + k * pattern_words, pattern_words, std::uint64_t{0});
    }
    // cppcheck-suppress knownConditionTrueFalse ; count is a multiple of 512
    for (std::size_t k = 0; k < stretches; ++k) {
      store_patterns<false>(p + k * stretch, 0, patterns + k * pattern_words);
    }
    counted += count_patterns(patterns, s.scheiben.data());
    // cppcheck-suppress knownConditionTrueFalse ; count is a multiple of 512
    for (std::size_t k = 0; k < stretches; ++k) {
      const unsigned char* const q = p + k * stretch;
      store_patterns<true>(q, at == 0 && k == 0 ? s.ch_alt : q[-1], patterns + k * pattern_words);
    }
    counted += count_patterns(patterns, s.scheiben.data() + std::size_t{256} * 8);
  }
  s.ch_alt = bytes[count - 1];
  s.offene_scheiben = true;
  clear_vector_registers();
  return counted;
}

void fold_slices(AnalysisState& s) {
  for (std::size_t histogram = 0; histogram < 2; ++histogram) {
    Histogram& h = histogram == 0 ? s.code : s.code2;
    const std::uint64_t* const lanes = s.scheiben.data() + histogram * 256 * 8;
    for (std::size_t v = 0; v < 256; v += 4) {
      std::uint64_t sum[4] = {};  // all, bit 0 set, bit 1 set, both set
      for (std::size_t i = 0; i < 4; ++i) {
        for (std::size_t lane = 0; lane < 8; ++lane) sum[i] += lanes[(v + i) * 8 + lane];
      }
      // Exact in unsigned arithmetic: every difference is a count.
      h[v + 3] += sum[3];
      h[v + 2] += sum[2] - sum[3];
      h[v + 1] += sum[1] - sum[3];
      h[v] += sum[0] - sum[1] - sum[2] + sum[3];
    }
  }
  s.scheiben.fill(0);
  s.offene_scheiben = false;
}

#else

#include <cstdlib>

bool bit_slices_run_here() { return false; }

// Never called where the counter does not run.
unsigned count_slices(AnalysisState&, const unsigned char*, std::size_t) { std::abort(); }
void fold_slices(AnalysisState&) { std::abort(); }

#endif
