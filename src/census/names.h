// What the program says on standard error about a name that failed: the name
// as typed, shown safely, the system's reason, and the name the user may have
// meant. The names themselves are never changed: the files are opened by
// exactly what was typed.
#pragma once

#include <string>
#include <string_view>

// The name as a terminal may show it, in both programs: control characters
// (C0, DEL and C1) and bytes that are not UTF-8 shown escaped, byte by byte
// (\r, \t, \n, \x1b, \xc2\x9b), so that a name cannot move the cursor,
// retitle the window or hide part of itself.
std::string shown_name(std::string_view name);

// The name without what terminals and file managers add to a name: quotes
// around it, spaces at either end, a trailing CR, backslash escapes such as
// "\ " (where a backslash does not separate folders), and a leading ~/ for
// the home folder.
std::string cleaned_name(const std::string& name);

// The folder the name is in, as written: "" when the name has no folder part.
std::string folder_part(const std::string& name);

// "octetcensusmeter: 'NAME': REASON" on standard error, and a second line
// with the cleaned name where it differs and names a file that exists (for
// the result: a name whose folder exists).
void tell_failed_name(const std::string& name, const std::string& reason, bool is_result);

// "octetcensusmeter: 'NAME': WHAT" on standard error.
void tell_about(const std::string& name, const std::string& what);

// Whether standard output's last line stands open on the screen: a prompt
// answered from a pipe or by the end of the input, the dots, the percentage.
// Where standard error is a terminal, its next line then begins on a line of
// its own instead of after the prompt.
void console_line_open(bool open);

// Flushes standard output; the reason of the first flush that failed is kept,
// since later calls (a terminal check among them) change errno.
void flush_console();
// That reason, or 0 when every flush went through.
int console_failure();

// Before the length pass: a result name whose folder does not exist, or is
// no folder, is told at once, so that the user need not wait for the whole
// first pass to learn it. Nothing is created.
void warn_about_result_folder(const std::string& name);

// Whether the folder of a result name is still as warn_about_result_folder
// told it: the failure to create the result is then not told again.
bool result_folder_still_told(const std::string& name);

// That another program holds the result, and the run waits for it.
void tell_waiting_for(const std::string& name);

// Any argument on the command line is told to be ignored.
void warn_about_arguments(int argc);
