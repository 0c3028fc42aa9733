// What a file given as the result may be taken for.
#include "census/guard.h"

#include <algorithm>
#include <cstring>
#include <vector>

bool is_a_list(const Histogram& code) {
  if (code[0x0a] == 0 || code[0x7f] != 0) return false;
  for (unsigned v = 0; v < 0x20; ++v) {
    if (code[v] != 0 && v != 0x09 && v != 0x0a && v != 0x0d) return false;
  }
  return true;
}

std::string not_a_result_because(std::string_view head) {
  Histogram code{};
  for (const char b : head) ++code[static_cast<unsigned char>(b)];
  const std::string refused = "exists and is not a result file (it was left as it was): ";
  if (head.empty()) return refused + "it could not be read";
  if (is_a_list(code)) {
    return refused +
           "it begins with lines of text and looks like a password list; were the two names "
           "swapped? The password file comes first, then a new name for the result";
  }
  code[0x0a] = 1;  // one line of text is text too
  if (is_a_list(code)) return refused + "it begins with text that is not a result's first heading";
  return refused + "it begins with binary data";
}

ResultOpen judge_result(const ResultFacts& f, bool beginning, bool holds_input) {
  const bool device = f.kind == ResultKind::character_device;
  if (f.link) return ResultOpen::is_link;
  if (f.is_input) return ResultOpen::is_input;
  if (f.kind == ResultKind::block_device) return ResultOpen::block_device;
  if (f.device_name || f.kind == ResultKind::other) return ResultOpen::device;
  // Its owner would read the tables. /dev/null, /dev/full and /dev/tty belong
  // to root and reach nobody; a terminal belongs to whoever opened it.
  if (f.owner == Owner::other || (f.owner == Owner::system && !device)) return ResultOpen::foreign;
  if (f.kind == ResultKind::folder) return ResultOpen::failed;
  // Another name of the file may be in someone else's folder, or be the
  // user's own file planted there.
  if (f.kind == ResultKind::regular && f.names > 1) return ResultOpen::many_names;
  if (!beginning) return ResultOpen::not_own;
  if (holds_input) return ResultOpen::is_input;
  return ResultOpen::opened;
}

namespace {

// Whether the open file is empty or begins with these bytes; a file that
// cannot be read does not. Where it does not, seen (if given) receives its
// first bytes, for saying what it is.
bool empty_or_begins_with(int file, std::string_view beginning, std::string* seen) {
  std::string head(std::max(beginning.size(), seen != nullptr ? refused_head : 0), '\0');
  std::size_t got = 0;
  bool readable = true;
  while (got < head.size()) {
    const long n = read_at(file, head.data() + got, head.size() - got, got);
    readable = n >= 0;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  const bool ours =
      readable && (got == 0 || std::string_view(head).substr(0, got).starts_with(beginning));
  if (!ours && seen != nullptr) seen->assign(head, 0, got);
  wipe(head.data(), head.size());
  return ours;
}

// Whether the result holds exactly the input's bytes, read from both until
// either ends: whatever size either file claims (a file system may report
// one too large), and whether the input is a regular file or a disk. Read at
// their offsets, so that neither file's position moves; the bytes read are
// wiped.
bool same_bytes(int input, int result) {
  constexpr std::size_t block = 65536;
  std::vector<char> x(block);
  std::vector<char> y(block);
  bool same = false;
  for (std::uint64_t at = 0;;) {
    const long n = read_at(input, x.data(), block, at);
    // The result must end where the input does: one byte past it says.
    const long m =
        n < 0 ? -1 : read_at(result, y.data(), n > 0 ? static_cast<std::size_t>(n) : 1, at);
    if (n <= 0 || m <= 0) {
      same = n == 0 && m == 0 && at > 0;  // an empty input is no file's bytes
      break;
    }
    // A short read of the result is read on at its end.
    if (std::memcmp(x.data(), y.data(), static_cast<std::size_t>(m)) != 0) break;
    at += static_cast<std::uint64_t>(m);
  }
  wipe(x.data(), block);
  wipe(y.data(), block);
  return same;
}

}  // namespace

std::FILE* open_result(const std::string& name, int input, ResultOpen& how,
                       std::string_view own_beginning, void (*waiting)(const std::string& name),
                       bool fifo_reader_needed, std::string* seen) {
  ResultFacts facts;
  const int file = open_result_file(name, input, fifo_reader_needed, waiting, how, facts);
  if (file < 0) return nullptr;
  how = judge_result(facts);
  if (how == ResultOpen::opened && facts.kind == ResultKind::regular) {
    // Locked first, so that a second run's half-written file is not judged,
    // and what another program that held it wrote meanwhile is seen. Its
    // name alone does not say it is the file the user meant: someone may
    // have renamed another of the user's files to it, or typed the two names
    // the wrong way round. An earlier result is the one file that may be
    // written over, and is made private first: a report of one password
    // spells it out, and a folder on the way may have been another user's.
    if (!lock_result(file, name, waiting)) {
      how = ResultOpen::failed;
    } else {
      const bool beginning =
          own_beginning.empty() || empty_or_begins_with(file, own_beginning, seen);
      const bool holds_input = beginning && facts.input_rereadable && same_bytes(input, file);
      how = judge_result(facts, beginning, holds_input);
    }
    if (how == ResultOpen::opened && facts.may_be_shared && !make_private(file)) {
      how = ResultOpen::failed;
    }
  }
  std::FILE* stream = how == ResultOpen::opened ? result_stream(file) : nullptr;
  if (stream != nullptr) return stream;
  if (how == ResultOpen::opened) how = ResultOpen::failed;
  close_result_file(file);
  return nullptr;
}

const char* refusal_words(ResultOpen how, Output output) {
  // The words after the output's name; the chart's own where its differ.
  struct Words {
    ResultOpen how;
    const char* report;
    const char* chart;
  };
  static constexpr Words table[] = {
      {ResultOpen::is_link, "is a symbolic link", nullptr},
      {ResultOpen::is_input, "must not be the inputfile", "is the result file itself"},
      {ResultOpen::block_device, "is a block device", nullptr},
      {ResultOpen::foreign, "belongs to another user", nullptr},
      {ResultOpen::many_names, "has more than one name (a hard link)", nullptr},
      {ResultOpen::foreign_link, "is reached through another user's link", nullptr},
      {ResultOpen::device, "is a device", nullptr},
      {ResultOpen::not_own, "exists and is not a result file",
       "exists and is not a chart of octetcensusmeter; give another name"},
      // The tool needs no reader: its result is opened as any file is.
      {ResultOpen::no_reader, nullptr, "is a FIFO that no program reads; start its reader first"},
  };
  for (const Words& w : table) {
    if (w.how == how) return output == Output::chart && w.chart != nullptr ? w.chart : w.report;
  }
  return nullptr;
}
