// What a file given as the result may be taken for, decided alike by both
// programs and on every system: whether it may be written at all, whether a
// table is a password list's, what an existing file that is no result of this
// tool's begins with, and the words for each refusal.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "census/octetcensusmeter.h"
#include "platform/platform.h"

// How every result file begins: the only file the tool writes over is one
// that begins so (or is empty).
constexpr std::string_view report_beginning = "\r\nByte allocation: \r\n";

// The tables are a list's when the byte 0x0a occurs and no byte below 0x20
// other than 0x09, 0x0a and 0x0d occurs, nor 0x7f.
bool is_a_list(const Histogram& code);

// What an existing file that is not a result begins with, from its first
// bytes, for the refusal's reason: a password list (when the two names may
// have been swapped), other text, or binary data. Never a byte of it: the file
// may be the password file.
std::string not_a_result_because(std::string_view head);

// Decides whether an open result may be written, from what the system told of
// it, in this order, the first that applies: a link; the input itself; a
// disk; a device's name; another user's file, or the system's that is not a
// character device (/dev/null, /dev/tty, Windows' NUL); a folder; a regular
// file with more than one name. A regular file that passes is asked again once
// it is locked: a file that holds something and does not begin as the
// program's own (beginning is false), then one that holds exactly the input's
// bytes (holds_input): the input under another identity (an overlay, a bind
// mount, a loop device's backing file, a network share).
ResultOpen judge_result(const ResultFacts& facts, bool beginning = true, bool holds_input = false);

// Opens the result (open_result_file), has the judge decide, and for a regular
// file locks it, reads its beginning and compares its bytes with the input's
// under the lock, and makes it private if others may have access. Where
// own_beginning is given, an existing regular file that holds anything is
// written only if it begins with these bytes; seen (if given) then receives
// the first refused_head bytes of one that does not, for saying what it is.
// Returns the stream, or nullptr with the reason in how; a refused file is
// left as it was.
constexpr std::size_t refused_head = 65536;
std::FILE* open_result(const std::string& name, int input, ResultOpen& how,
                       std::string_view own_beginning = {},
                       void (*waiting)(const std::string& name) = nullptr,
                       bool fifo_reader_needed = false, std::string* seen = nullptr);

// Which program's output a refusal is about: the tool's result or the chart.
enum class Output { report, chart };

// Why an output was refused, in words that follow its name ("is a symbolic
// link"); nullptr where the system's own reason says it (failed).
const char* refusal_words(ResultOpen how, Output output);

// What both programs say while another program holds their output.
constexpr const char* held_by_another =
    "another program holds this file; the run waits until it lets go (Ctrl-C stops it)";
