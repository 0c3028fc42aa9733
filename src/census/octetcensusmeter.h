// The one record of a run and the console dialogue around it. The census
// folder is the interactive tool; it includes the platform layer alone.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/platform.h"

// No path is longer: a longer name names no file.
constexpr std::size_t longest_name = 4096;

// 256 counts, indexed by a byte value or by a difference.
using Histogram = std::array<std::uint64_t, 256>;

// The block counters: the pair table runs anywhere, the bit-sliced counter
// where the processor has the instructions it needs.
enum class Counter : std::uint8_t { pairs, bit_slices };

// Everything a run knows. Exactly one exists per process; every procedure
// reads and writes its fields directly.
struct AnalysisState {
  std::string name_der_datei3;  // input (password) file, as typed
  std::string name_der_datei2;  // result file, as typed
  std::string name_der_datei5;  // the line typed at the finishing prompt
  char wait = 0;                // the character read at an error prompt

  int dateizeiger3 = -1;              // the input, read in blocks
  FileIdentity kennung3;              // which file the length pass measured
  std::FILE* dateizeiger2 = nullptr;  // the result file
  bool schreibfehler = false;         // a write to the result file failed

  std::uint64_t laenge = 0;   // length of the input in bytes
  std::uint64_t laeufer = 0;  // bytes counted so far in the histogram pass
  std::uint64_t warte = 0;    // reads since the last progress mark
  std::uint8_t prozent = 0;   // the percentage shown, 0 to 100
  std::uint8_t merker = 0;    // 1 once a short input has shown its 100 %

  // The last byte counted: the predecessor of the next block's first byte.
  // Bytes are counted a block at a time, so no field holds "the byte just read".
  std::uint8_t ch_alt = 0;

  Histogram code{};   // byte allocation
  Histogram code2{};  // byte diversification

  std::uint64_t gross = 0;           // running maximum
  std::uint64_t klein = UINT64_MAX;  // running minimum
  std::uint8_t ch1 = 0x39;           // value of the extreme found last
  std::uint64_t mittel = 0;          // sum, then average
  std::uint16_t za = 0;              // loop index over 0 to 255

  // Pair counts: paare[(b << 8) | a] counts the consecutive bytes a, b not
  // yet folded into code and code2. 32 bits each; folded before they could
  // overflow (after faltgrenze pairs at the latest) and at the end of a pass.
  std::array<std::uint32_t, 65536> paare{};
  std::uint64_t offene_paare = 0;
  std::uint64_t faltgrenze = UINT32_MAX;  // lowered only by tests, to fold often

  // The counter that counts whole stretches of 512 bytes, chosen at start.
  Counter zaehlwerk = Counter::pairs;
  bool offene_scheiben = false;  // scheiben holds counts not yet folded
  // The bit-sliced counter's sums, eight lanes each, from which fold_slices
  // takes the counts: the first half for the bytes, the second for their
  // differences. 64 bits each, from at most 64 a stretch: no file makes them
  // overflow.
  alignas(64) std::array<std::uint64_t, std::size_t{2} * 256 * 8> scheiben{};
  // Made of its bit-planes: for each of eight stretches of 512 bytes (or
  // of their differences), 23 patterns of 512 bits that tell where each
  // value is.
  alignas(64) std::array<std::uint64_t, std::size_t{8} * 23 * 8> ebenen{};

  // The one read buffer. Wiped after each pass and before every exit.
  // Aligned as the bit-sliced counter's loads are, 64 bytes each.
  alignas(64) std::array<unsigned char, std::size_t{256} * 1024> puffer{};
};

// Wipes the read buffer, the pair table, the bit-planes and counts and the
// bytes held from the input.
// Called after each pass and before every exit.
void wipe_buffer(AnalysisState& s);

// Prints the two message lines and "Press ENTER to exit.", reads one
// character and ends the process with exit status 1.
[[noreturn]] void fail_and_wait(AnalysisState& s, const char* line1, const char* line2);

// Reads one line without its line feed; nothing else is removed. At the end
// of the input the line is whatever was read before it (possibly empty). A
// line longer than longest_name stops one byte past it; the rest stays unread.
void read_line(std::FILE* in, std::string& line);

// The whole dialogue of one run; returns the exit status of a run that did
// not end the process on its own.
int run_dialogue(AnalysisState& s);
