// The two passes over the input and the report.
#include "census/analysis.h"

#include <bit>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "census/guard.h"
#include "census/names.h"
#include "census/sliced.h"
#include "platform/platform.h"

namespace {

constexpr std::uint64_t reads_per_dot = 5000000;
constexpr std::uint64_t short_input = 10000;

const char* const check_input = "\n\nCheck filename and suffix (e.g. input.txt) ";
const char* const check_output = "\n\nCheck filename and suffix (e.g. output.txt) ";

// Why a name names no file: a NUL in it, or more bytes than any path; nullptr
// when it may name one.
const char* name_fault(const std::string& name) {
  if (name.find('\0') != std::string::npos) return "the name holds a NUL character";
  if (name.size() > longest_name) return "the name is longer than any path";
  return nullptr;
}

bool names_a_file(const std::string& name) { return name_fault(name) == nullptr; }

// Why a name could not be opened: what is wrong with the name itself, or the
// system's reason for the call that just failed.
std::string why_not_opened(const std::string& name) {
  const char* fault = name_fault(name);
  return fault != nullptr ? fault : failure_reason();
}

int open_password_file(const AnalysisState& s, InputOpen& how) {
  how = InputOpen::failed;
  return names_a_file(s.name_der_datei3) ? open_input(s.name_der_datei3, how) : -1;
}

// Reads on to the measured length and no further: a file that keeps growing
// cannot keep the pass reading. At that length the pass ends as at the end of
// the file.
long read_next_block(AnalysisState& s) {
  const std::uint64_t left = s.laenge - s.laeufer;
  if (left == 0) return 0;
  const std::size_t size =
      left < s.puffer.size() ? static_cast<std::size_t>(left) : s.puffer.size();
  return read_block(s.dateizeiger3, s.puffer.data(), size);
}

// The first message line of a result that was not opened.
std::string result_refusal(ResultOpen how) {
  const char* words = refusal_words(how, Output::report);
  return std::string("\n error message: outputfile ") +
         (words != nullptr ? words : "could not be opened") + "\n";
}

[[noreturn]] void fail_unreadable(AnalysisState& s) {
  tell_failed_name(s.name_der_datei3, failure_reason(), false);
  fail_and_wait(s, "\n error message: inputfile could not be read\n", check_input);
}

void show(const char* text) {
  std::fputs(text, stdout);
  flush_console();
}

void progress_step(AnalysisState& s) {
  if (s.prozent >= 100) return;  // 100 % stays as it stands
  ++s.prozent;
  if (s.prozent > 10) std::fputs("\b", stdout);
  std::printf("\b\b%d%%", s.prozent);
  flush_console();
}

// Advances the percentage display by that many iterations of the pass.
void advance_progress(AnalysisState& s, std::uint64_t iterations) {
  s.warte += iterations;
  if (s.laenge > short_input) {
    const std::uint64_t q = s.laenge / 100;
    while (s.warte >= q) {
      s.warte -= q;
      progress_step(s);
    }
  } else if (s.merker == 0) {
    s.merker = 1;
    s.prozent = 100;
    std::printf("\b\b%d%%", s.prozent);
    flush_console();
  }
}

// Measured side by side with the pair table, the bit-sliced counter is faster
// up to about 430 values counted in 4 KiB, of the 512 there are (bytes and
// differences): random printable passwords take 190, a word list 130, random
// bytes all of them.
constexpr unsigned most_sliced_values = 416;

// Eight bytes from p as one word whose lowest 8 bits are p[0], on any machine.
std::uint64_t load_little_endian(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// The pair that ends at q[0].
void count_one(std::uint32_t* table, const unsigned char* q) {
  ++table[(unsigned{q[0]} << 8) | q[-1]];
}

// The eight pairs that end at q[0] to q[7], from two loads and no load per
// byte: the word at q - 1 holds, in its four 16-bit fields, the pairs that end
// at q[0], q[2], q[4] and q[6]; the word at q those that end at q[1], q[3],
// q[5] and q[7]. Two equal words mean nine equal bytes, a run: eight pairs
// (v, v) in one add.
void count_eight(std::uint32_t* table, const unsigned char* q) {
  const std::uint64_t ending_even = load_little_endian(q - 1);
  const std::uint64_t ending_odd = load_little_endian(q);
  if (ending_even == ending_odd) {
    const unsigned v = q[0];
    table[(v << 8) | v] += 8;
    return;
  }
  for (unsigned shift = 0; shift < 64; shift += 16) {
    ++table[(ending_even >> shift) & 0xffff];
    ++table[(ending_odd >> shift) & 0xffff];
  }
}

// The pairs of consecutive bytes: prev and p[0], then each byte of p and the
// next. A pair a, b is counted at table[(b << 8) | a].
//
// The block is counted as four stretches side by side, eight pairs of each in
// turn. In one stretch alone an increment often has to wait for the one
// before it to the same counter: text brings the same pair back every few
// bytes. Four stretches give the processor other increments to do meanwhile.
void count_pairs(std::uint32_t* table, unsigned prev, const unsigned char* p, std::size_t n) {
  ++table[(unsigned{p[0]} << 8) | prev];
  if (n < 64) {  // too short to share out
    for (const unsigned char* q = p + 1; q < p + n; ++q) count_one(table, q);
    return;
  }
  const std::size_t quarter = n / 4;
  const unsigned char* const start[4] = {p + 1, p + quarter, p + 2 * quarter, p + 3 * quarter};
  const unsigned char* const end[4] = {p + quarter, p + 2 * quarter, p + 3 * quarter, p + n};
  const std::size_t side_by_side = (quarter - 1) / 8 * 8;  // the first stretch is the shortest
  for (std::size_t k = 0; k < side_by_side; k += 8) {
    for (const unsigned char* stretch : start) count_eight(table, stretch + k);
  }
  for (std::size_t s = 0; s < 4; ++s) {
    for (const unsigned char* q = start[s] + side_by_side; q < end[s]; ++q) count_one(table, q);
  }
}

void to_file(AnalysisState& s, const char* format, ...) __attribute__((format(printf, 2, 3)));
void to_file(AnalysisState& s, const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (std::vfprintf(s.dateizeiger2, format, args) < 0) s.schreibfehler = true;
  va_end(args);
}

// A count as printf's %llu takes it.
unsigned long long as_llu(std::uint64_t v) { return v; }

// Reads the input to its end, counting the reads, the one that meets the end
// included.
void measure_by_reading(AnalysisState& s) {
  for (;;) {
    const long n = skip_block(s.dateizeiger3, s.puffer.data(), s.puffer.size());
    if (n < 0) fail_unreadable(s);
    // The read that meets the end of the file counts as a read too, so that
    // the dots fall where a byte-at-a-time reader's would: 4,999,999 bytes
    // take 5,000,000 reads and get their dot.
    const std::uint64_t reads = n > 0 ? static_cast<std::uint64_t>(n) : 1;
    s.laenge += reads;
    s.warte += reads;
    while (s.warte >= reads_per_dot) {
      s.warte -= reads_per_dot;
      show(".");
    }
    if (n == 0) break;
  }
}

}  // namespace

void lese(AnalysisState& s) {
  InputOpen how = InputOpen::failed;
  s.dateizeiger3 = open_password_file(s, how);
  if (how == InputOpen::once_only) {
    fail_and_wait(s, "\n error message: inputfile cannot be read twice (a pipe or a terminal)\n",
                  check_input);
  }
  if (how == InputOpen::character_device) {
    fail_and_wait(s, "\n error message: inputfile is a character device\n", check_input);
  }
  if (s.dateizeiger3 < 0 || !identify(s.dateizeiger3, s.kennung3)) {
    tell_failed_name(s.name_der_datei3, why_not_opened(s.name_der_datei3), false);
    fail_and_wait(s, "\n error message: inputfile could not be opened or not found\n", check_input);
  }
  std::uint64_t size = 0;
  if (trusted_length(s.dateizeiger3, size)) {
    // A file system that knows its files' sizes is not asked to read one
    // only to count it (a list of 100 GB would be read twice). The dots are
    // those that reading it would print, at once.
    s.laenge = size + 1;
    for (std::uint64_t dots = s.laenge / reads_per_dot; dots > 0; --dots) show(".");
  } else {
    measure_by_reading(s);
  }
  close_input(s.dateizeiger3);
  s.dateizeiger3 = -1;
  wipe_buffer(s);
  s.laenge -= 1;  // that last read returned no byte
  s.warte = 0;
  std::fputs("\n", stdout);
  std::printf("length : %llu\n", as_llu(s.laenge));
  console_line_open(false);
}

void lese_schreibe(AnalysisState& s) {
  count_histograms(s);
  write_report(s);
}

void count_histograms(AnalysisState& s) {
  InputOpen input_how = InputOpen::failed;
  s.dateizeiger3 = open_password_file(s, input_how);
  if (s.dateizeiger3 < 0) {  // a file that turned into a pipe meanwhile included
    tell_failed_name(s.name_der_datei3, why_not_opened(s.name_der_datei3), false);
    show("\n file could not be opened");
    wipe_buffer(s);
    std::exit(1);
  }
  // The counts must belong to the length measured: another file put at the
  // name meanwhile is not counted against it.
  FileIdentity now;
  if (!identify(s.dateizeiger3, now) || now != s.kennung3) {
    fail_and_wait(s, "\n error message: inputfile was replaced between the passes\n", check_input);
  }
  // Only a file this tool wrote is written over: the result named by a slip
  // of the fingers, or the two names typed the wrong way round, would cost
  // whatever file it is.
  ResultOpen how = ResultOpen::failed;
  std::string seen;
  if (names_a_file(s.name_der_datei2)) {
    s.dateizeiger2 = open_result(s.name_der_datei2, s.dateizeiger3, how, report_beginning,
                                 tell_waiting_for, false, &seen);
  }
  if (how == ResultOpen::not_own) {
    tell_about(s.name_der_datei2, not_a_result_because(seen));
    wipe(seen.data(), seen.size());
  }
  if (s.dateizeiger2 == nullptr) {
    // A folder told missing before the length pass is not told again.
    if (how == ResultOpen::failed && !result_folder_still_told(s.name_der_datei2)) {
      tell_failed_name(s.name_der_datei2, why_not_opened(s.name_der_datei2), true);
    }
    fail_and_wait(s, result_refusal(how).c_str(), check_output);
  }
  std::fputs("\n Analyze ", stdout);
  std::fputs("completed: ", stdout);
  std::printf("%d%%", s.prozent);
  flush_console();
  console_line_open(true);
  for (;;) {
    const long n = read_next_block(s);
    if (n < 0) fail_unreadable(s);
    if (n == 0) {
      // Counted as far as it goes, the tables would not add up to the length
      // shown; the result keeps what it held.
      if (s.laeufer < s.laenge) {
        fail_and_wait(s, "\n error message: inputfile became shorter during the analysis\n",
                      check_input);
      }
      advance_progress(s, 1);  // the read that meets the end counts no byte
      break;
    }
    count_block(s, s.puffer.data(), static_cast<std::size_t>(n));
    advance_progress(s, static_cast<std::uint64_t>(n));
  }
  fold_counts(s);
  wipe_buffer(s);
  s.warte = 0;
}

void count_block(AnalysisState& s, const unsigned char* bytes, std::size_t count) {
  // Bytes past the measured length (an input that grew) are not counted.
  std::size_t n = count;
  if (s.laenge - s.laeufer < n) n = static_cast<std::size_t>(s.laenge - s.laeufer);
  if (n == 0) return;
  std::size_t i = 0;
  if (s.laeufer == 0) {  // the first byte has no predecessor
    ++s.code[bytes[0]];
    s.ch_alt = bytes[0];
    i = 1;
  }
  s.laeufer += n;
  if (s.zaehlwerk == Counter::bit_slices && n - i >= slice_stretch) {
    // The bit-sliced counter's work grows with the values the bytes take,
    // the pair table's does not: the first 4 KiB of a block tell which of the
    // two counts the rest of it faster.
    std::size_t whole = (n - i) / slice_stretch * slice_stretch;
    const std::size_t probe = whole < slice_group ? whole : slice_group;
    const unsigned values = count_slices(s, bytes + i, probe);
    i += probe;
    whole -= probe;
    if (whole > 0 && values * slice_group <= most_sliced_values * probe) {
      count_slices(s, bytes + i, whole);
      i += whole;
    }
  }
  // The pair table takes the rest: a counter for any processor and any cut.
  while (i < n) {
    std::uint64_t room = s.faltgrenze - s.offene_paare;
    const std::size_t chunk = n - i < room ? n - i : static_cast<std::size_t>(room);
    count_pairs(s.paare.data(), s.ch_alt, bytes + i, chunk);
    s.ch_alt = bytes[i + chunk - 1];
    s.offene_paare += chunk;
    i += chunk;
    if (s.offene_paare >= s.faltgrenze) fold_counts(s);
  }
}

void count_block_plainly(AnalysisState& s, const unsigned char* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count && s.laeufer < s.laenge; ++i) {
    const std::uint8_t b = bytes[i];
    ++s.code[b];
    if (s.laeufer > 0) ++s.code2[b >= s.ch_alt ? b - s.ch_alt : s.ch_alt - b];
    s.ch_alt = b;
    ++s.laeufer;
  }
}

void fold_counts(AnalysisState& s) {
  if (s.offene_scheiben) fold_slices(s);
  if (s.offene_paare == 0) return;
  for (unsigned b = 0; b < 256; ++b) {
    for (unsigned a = 0; a < 256; ++a) {
      const std::uint32_t n = s.paare[(b << 8) | a];
      s.code[b] += n;
      s.code2[a > b ? a - b : b - a] += n;
    }
  }
  s.paare.fill(0);
  s.offene_paare = 0;
}

void find_upper_limit(AnalysisState& s, const Histogram& h) {
  for (s.za = 0; s.za < 256; ++s.za) {
    if (h[s.za] > s.gross) {
      s.gross = h[s.za];
      s.ch1 = static_cast<std::uint8_t>(s.za);
    }
  }
}

void find_lower_limit(AnalysisState& s, const Histogram& h) {
  for (s.za = 0; s.za < 256; ++s.za) {
    if (h[s.za] < s.klein) {
      s.klein = h[s.za];
      s.ch1 = static_cast<std::uint8_t>(s.za);
    }
  }
}

void calculate_average(AnalysisState& s, const Histogram& h) {
  for (const std::uint64_t n : h) s.mittel += n;
  s.mittel >>= 8;
}

namespace {

// A half of the report: the table of one histogram and its three figures. The
// two halves differ in their words and in the blank lines around them.
struct ReportHalf {
  const Histogram& counts;
  const char* title;           // "Byte allocation"
  const char* value;           // what a row counts: "Byte"
  const char* values;          // "bytes", in "(Other bytes with the same frequency ...)"
  const char* console_before;  // the blank lines before the title on the console
  const char* file_before;     // and in the file
  const char* console_after;   // after the average
  const char* file_after;
};

// A line of the report formed once: on the console it ends in LF, in the file
// in CR LF.
void both(AnalysisState& s, const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  to_file(s, "%s\r\n", line.c_str());
}

std::string formed(const char* format, const char* value, unsigned at, std::uint64_t n) {
  char line[128];
  std::snprintf(line, sizeof line, format, value, at, as_llu(n));
  return line;
}

void write_half(AnalysisState& s, const ReportHalf& h) {
  std::fputs(h.console_before, stdout);
  to_file(s, "%s", h.file_before);
  both(s, std::string(h.title) + ": ");
  to_file(s, "\r\n");
  for (unsigned v = 0; v < 256; ++v)
    to_file(s, "%s 0x%x = %llu \r\n", h.value, v, as_llu(h.counts[v]));
  both(s, "");
  // The searches start afresh in each half, but ch1 is carried from one
  // search to the next on purpose: a search that finds no count beyond its
  // start (a histogram of zeros) names the value the one before it named.
  s.gross = 0;
  s.klein = UINT64_MAX;
  s.mittel = 0;
  find_upper_limit(s, h.counts);
  both(s, formed("upper limit is %s 0x%x = %llu times", h.value, s.ch1, s.gross));
  find_lower_limit(s, h.counts);
  both(s, formed("lower limit is %s 0x%x = %llu times", h.value, s.ch1, s.klein));
  to_file(s, "\r\n");
  both(s, std::string("(Other ") + h.values + " with the same frequency are possible)");
  calculate_average(s, h.counts);
  both(s, "calculate average frequency = " + std::to_string(s.mittel) + " ");
  std::fputs(h.console_after, stdout);
  to_file(s, "%s", h.file_after);
}

}  // namespace

void write_report(AnalysisState& s) {
  // Only now does an existing result lose what it held: a run that ended
  // before this point left it as it was.
  if (!empty_result(s.dateizeiger2)) s.schreibfehler = true;
  const ReportHalf halves[] = {
      {s.code, "Byte allocation", "Byte", "bytes", "\n\n", "\r\n", "\n\n", "\r\n"},
      {s.code2, "Byte diversification (differences of two following bytes)", "difference",
       "differences", "\n", "\r\n\r\n", "", ""},
  };
  for (const ReportHalf& h : halves) write_half(s, h);

  if (std::fflush(s.dateizeiger2) != 0) s.schreibfehler = true;
  if (std::fclose(s.dateizeiger2) != 0) s.schreibfehler = true;
  s.dateizeiger2 = nullptr;
  close_input(s.dateizeiger3);
  s.dateizeiger3 = -1;
  if (s.schreibfehler) {
    fail_and_wait(s, "\n error message: result file could not be written completely\n",
                  "\n\nCheck free disk space ");
  }
}
