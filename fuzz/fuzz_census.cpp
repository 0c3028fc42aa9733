// Drives the block counter and the line reader with arbitrary bytes.
//
// The first four bytes choose how the rest is counted: how often pairs are
// folded, how far the measured length lies from the bytes given, and where the
// blocks are cut. Each block counter the processor runs must agree with the
// plain one; the lines read from the same bytes must give them back exactly.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "census/analysis.h"
#include "census/sliced.h"

namespace {

AnalysisState state;
AnalysisState plain;
// Every counter this processor runs is compared with the plain one.
const bool slices_here = bit_slices_run_here();

void check(bool ok) {
  if (!ok) __builtin_trap();
}

void check_counter(const std::uint8_t* data, std::size_t size, Counter counter) {
  if (size < 4) return;
  AnalysisState& s = state;
  const std::uint8_t* bytes = data + 4;
  const std::size_t n = size - 4;
  s.code.fill(0);
  s.code2.fill(0);
  s.paare.fill(0);
  s.scheiben.fill(0);
  s.laeufer = 0;
  s.offene_paare = 0;
  s.offene_scheiben = false;
  s.ch_alt = 0;
  s.zaehlwerk = counter;
  const std::uint64_t fold_every = data[0];
  s.faltgrenze = fold_every == 0 ? UINT32_MAX : fold_every * 8;
  const long offset = static_cast<long>(data[1]) - 128;
  s.laenge = offset < 0 && static_cast<std::size_t>(-offset) > n ? 0 : n + offset;

  // The plain count, in one block.
  plain.code.fill(0);
  plain.code2.fill(0);
  plain.laeufer = 0;
  plain.laenge = s.laenge;
  count_block_plainly(plain, bytes, n);

  // Short blocks, or long ones that the bit-sliced counter takes past their
  // first 4 KiB.
  const std::size_t longest = (data[3] & 0x80) != 0 ? 9000 : 300;
  std::uint32_t cut = data[2] | (std::uint32_t{data[3]} << 8) | 1u;
  for (std::size_t done = 0; done < n;) {
    cut = cut * 1103515245u + 12345u;
    std::size_t block = 1 + (cut >> 16) % longest;
    if (block > n - done) block = n - done;
    count_block(s, bytes + done, block);
    done += block;
  }
  fold_counts(s);
  check(s.code == plain.code);
  check(s.code2 == plain.code2);
  check(s.laeufer == (n < s.laenge ? n : s.laenge));
}

void check_lines(const std::uint8_t* data, std::size_t size) {
  // A longer line is cut short on purpose: it names no file.
  if (size == 0 || size > longest_name) return;
  std::FILE* in = fmemopen(const_cast<std::uint8_t*>(data), size, "r");
  if (in == nullptr) return;
  std::string joined;
  std::string line;
  for (bool first = true;; first = false) {
    read_line(in, line);
    check(line.find('\n') == std::string::npos);
    if (!first) joined += '\n';
    joined += line;
    if (std::feof(in) != 0) break;
  }
  std::fclose(in);
  check(joined == std::string(reinterpret_cast<const char*>(data), size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  check_counter(data, size, Counter::pairs);
  if (slices_here) check_counter(data, size, Counter::bit_slices);
  check_lines(data, size);
  return 0;
}
