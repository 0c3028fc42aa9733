// Reading a result file back, strictly.
#include "chart/reader.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "chart/text.h"

namespace {

// A count as "%llu" prints it: decimal digits, no sign, no leading zero, at most 2^64 - 1.
bool parse_count(std::string_view s, std::uint64_t& n) {
  if (s.empty() || s.size() > 20 || (s.size() > 1 && s[0] == '0')) return false;
  n = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (n > (UINT64_MAX - digit) / 10) return false;
    n = n * 10 + digit;
  }
  return true;
}

// A value as "%x" prints it: lower-case hexadecimal, no leading zero, at most 0xff.
bool parse_value(std::string_view s, unsigned& v) {
  if (s.empty() || s.size() > 2 || (s.size() > 1 && s[0] == '0')) return false;
  v = 0;
  for (const char c : s) {
    const bool digit = c >= '0' && c <= '9';
    if (!digit && (c < 'a' || c > 'f')) return false;
    v = v * 16 + static_cast<unsigned>(digit ? c - '0' : c - 'a' + 10);
  }
  return true;
}

// The lines of a result file, read one after the other.
class Lines {
 public:
  explicit Lines(const std::string& text) {
    const std::string_view all(text);
    const std::string_view line_end = all.starts_with("\r\n") ? "\r\n" : "\n";
    for (std::size_t at = 0; at < all.size();) {
      const std::size_t ends_at = all.find(line_end, at);
      if (ends_at == std::string_view::npos) {  // the last line lacks its line end
        lines_.push_back(all.substr(at));
        unended_ = true;
        break;
      }
      lines_.push_back(all.substr(at, ends_at - at));
      at = ends_at + line_end.size();
    }
  }

  bool failed() const { return !error_.expected.empty(); }
  const ReadError& error() const { return error_; }
  std::size_t number() const { return at_ + 1; }  // of the next line

  // Fails with what was expected at the current line; the first fault stands.
  bool fail(const std::string& expected, std::size_t line = 0) {
    if (!failed()) error_ = {line == 0 ? number() : line, expected};
    return false;
  }

  // The next line, or a fault if there is none or it lacks its line end.
  bool next(const std::string& expected, std::string_view& line) {
    if (failed()) return false;
    if (at_ >= lines_.size()) return fail(expected + ", found the end of the file");
    if (unended_ && at_ + 1 == lines_.size()) return fail(expected + " and its line end");
    line = lines_[at_++];
    return true;
  }

  void text(std::string_view expected) {
    std::string_view line;
    const std::string quoted = "expected \"" + std::string(expected) + "\"";
    if (next(quoted, line) && line != expected) fail(quoted, number() - 1);
  }
  void empty() { text(""); }

  // "PREFIX0xV = N SUFFIX"; v is the value it must name, or -1 for any.
  bool value_count(std::string_view prefix, int v, std::string_view suffix, unsigned& value,
                   std::uint64_t& count) {
    const std::string shown = std::string(prefix) + (v < 0 ? "0xVALUE" : format("0x%x", v)) +
                              " = COUNT" + std::string(suffix);
    std::string_view line;
    if (!next("expected \"" + shown + "\"", line)) return false;
    const std::string head = std::string(prefix) + "0x";
    const std::size_t equals = line.find(" = ");
    const bool framed = line.starts_with(head) && line.ends_with(suffix) &&
                        equals != std::string_view::npos &&
                        equals + 3 <= line.size() - suffix.size();
    if (!framed || !parse_value(line.substr(head.size(), equals - head.size()), value) ||
        (v >= 0 && value != static_cast<unsigned>(v))) {
      return fail("expected \"" + shown + "\"", number() - 1);
    }
    const std::string_view digits =
        line.substr(equals + 3, line.size() - suffix.size() - (equals + 3));
    if (!parse_count(digits, count)) {
      return fail("expected a count from 0 to 18446744073709551615 in \"" + shown + "\"",
                  number() - 1);
    }
    return true;
  }

  bool number_line(std::string_view prefix, std::string_view suffix, std::uint64_t& count) {
    const std::string shown = std::string(prefix) + "COUNT" + std::string(suffix);
    std::string_view line;
    if (!next("expected \"" + shown + "\"", line)) return false;
    if (!line.starts_with(prefix) || !line.ends_with(suffix) ||
        line.size() < prefix.size() + suffix.size() ||
        !parse_count(line.substr(prefix.size(), line.size() - prefix.size() - suffix.size()),
                     count)) {
      return fail("expected \"" + shown + "\" with a count from 0 to 18446744073709551615",
                  number() - 1);
    }
    return true;
  }

  void end() {
    if (!failed() && at_ < lines_.size()) fail("expected the end of the file");
  }

 private:
  std::vector<std::string_view> lines_;
  bool unended_ = false;
  std::size_t at_ = 0;
  ReadError error_;
};

// One half of the file: a table, its limits and its average, each summary
// line checked against the table. what is "Byte" or "difference".
void read_half(Lines& in, const char* what, Histogram& h, std::uint64_t& sum, unsigned& carried) {
  for (int v = 0; v < 256; ++v) {
    unsigned value = 0;
    in.value_count(std::string(what) + " ", v, " ", value, h[static_cast<unsigned>(v)]);
  }
  const std::size_t last_row = in.number() - 1;
  in.empty();
  if (in.failed()) return;
  const TableLimits expected = limits_of(h, carried);
  for (const bool upper : {true, false}) {
    const char* limit = upper ? "upper" : "lower";
    const std::uint64_t count_wanted = upper ? expected.upper : expected.lower;
    const unsigned value_wanted = upper ? expected.upper_value : expected.lower_value;
    unsigned value = 0;
    std::uint64_t count = 0;
    const std::string prefix = std::string(limit) + " limit is " + what + " ";
    if (!in.value_count(prefix, -1, " times", value, count)) return;
    if (count != count_wanted) {
      in.fail(format("expected the %s limit %llu, the %s count of the table", limit,
                     as_llu(count_wanted), upper ? "largest" : "smallest"),
              in.number() - 1);
    } else if (value != value_wanted) {
      in.fail(count == 0 && upper
                  ? format("expected the upper limit to name 0x%x, which the tool names when "
                           "no count is above 0",
                           value_wanted)
                  : format("expected the %s limit to name 0x%x, the first value with the count "
                           "%llu",
                           limit, value_wanted, as_llu(count)),
              in.number() - 1);
    }
  }
  in.empty();
  in.text(std::string("(Other ") + (what[0] == 'B' ? "bytes" : "differences") +
          " with the same frequency are possible)");
  sum = 0;
  for (const std::uint64_t n : h) {
    if (__builtin_add_overflow(sum, n, &sum)) {
      in.fail("expected counts that add up to at most 18446744073709551615", last_row);
      return;
    }
  }
  std::uint64_t average = 0;
  if (in.number_line("calculate average frequency = ", " ", average) && average != sum / 256) {
    in.fail(
        format("expected the average %llu, the sum of the table divided by 256", as_llu(sum / 256)),
        in.number() - 1);
  }
}

}  // namespace

TableLimits limits_of(const Histogram& h, unsigned& carried) {
  TableLimits l;
  l.lower = UINT64_MAX;
  for (unsigned v = 0; v < 256; ++v) {
    if (h[v] > l.upper) l.upper = h[v], carried = v;
  }
  l.upper_value = carried;
  for (unsigned v = 0; v < 256; ++v) {
    if (h[v] < l.lower) l.lower = h[v], carried = v;
  }
  l.lower_value = carried;
  return l;
}

void limits_of(const Tables& t, TableLimits& bytes, TableLimits& differences) {
  unsigned carried = 0x39;
  bytes = limits_of(t.code, carried);
  differences = limits_of(t.code2, carried);
}

bool read_result(const std::string& text, Tables& tables, ReadError& error) {
  Lines in(text);
  unsigned carried = 0x39;
  std::uint64_t bytes = 0;
  std::uint64_t pairs = 0;
  in.empty();
  in.text("Byte allocation: ");
  in.empty();
  read_half(in, "Byte", tables.code, bytes, carried);
  in.empty();
  in.empty();
  in.empty();
  in.text("Byte diversification (differences of two following bytes): ");
  in.empty();
  const std::size_t first_difference = in.number();
  read_half(in, "difference", tables.code2, pairs, carried);
  in.end();
  const std::uint64_t expected = bytes == 0 ? 0 : bytes - 1;
  if (!in.failed() && pairs != expected) {
    in.fail(format("expected differences that add up to %llu, the bytes less one; they add up "
                   "to %llu",
                   as_llu(expected), as_llu(pairs)),
            first_difference + 255);
  }
  error = in.error();
  // The first three lines are the same in every result file.
  error.beginning = in.failed() && error.line <= 3;
  return !in.failed();
}
