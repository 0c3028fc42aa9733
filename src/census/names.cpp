// What the program says on standard error about the names it was given.
#include "census/names.h"

#include <cerrno>
#include <cstdio>

#include "census/guard.h"
#include "census/utf8.h"
#include "platform/platform.h"

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trimmed(const std::string& s) {
  std::size_t from = 0;
  std::size_t to = s.size();
  while (from < to && is_space(s[from])) ++from;
  while (to > from && is_space(s[to - 1])) --to;
  return s.substr(from, to - from);
}

bool is_separator(char c) { return c == '/' || (backslash_separates_folders && c == '\\'); }

// What a shell's escapes leave: "\ " a space, "\\" one backslash.
std::string unescaped(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) ++i;
    out.push_back(s[i]);
  }
  return out;
}

bool line_open = false;

// Whatever the console shows so far comes first, and the message on a line
// of its own.
void begin_message() {
  flush_console();
  if (line_open && is_terminal(stderr)) std::fputc('\n', stderr);
  line_open = false;
}

// What warn_about_result_folder found, for result_folder_still_told.
FolderState told_state = FolderState::folder;

FolderState result_folder_state(const std::string& name) {
  if (name.find('\0') != std::string::npos) return FolderState::folder;  // it names no file at all
  const std::string folder = folder_part(name);
  return folder.empty() ? FolderState::folder : folder_state(folder);
}

// The folder a name would be created in, "." for a name without one.
std::string creation_folder(const std::string& name) {
  const std::string folder = folder_part(name);
  return folder.empty() ? "." : folder;
}

void suggest(const std::string& name, bool is_result) {
  const std::string cleaned = cleaned_name(name);
  if (cleaned == name || cleaned.empty()) return;
  const bool there = is_result ? folder_state(creation_folder(cleaned)) == FolderState::folder
                               : name_exists(cleaned);
  if (there) {
    std::fprintf(stderr, "octetcensusmeter: did you mean '%s'?\n", shown_name(cleaned).c_str());
  }
}

}  // namespace

void tell_about(const std::string& name, const std::string& what) {
  begin_message();
  std::fprintf(stderr, "octetcensusmeter: '%s': %s\n", shown_name(name).c_str(), what.c_str());
}

std::string shown_name(std::string_view name) {
  std::string out;
  for_each_character(name, [&](char32_t c, bool well_formed, std::size_t at, std::size_t length) {
    // U+0080 to U+009F: a terminal may take U+009B for the start of a command.
    const bool control = c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0x9f);
    if (well_formed && !control) {
      out.append(name, at, length);
      return;
    }
    const char* named = c == '\r' ? "\\r" : c == '\t' ? "\\t" : c == '\n' ? "\\n" : nullptr;
    if (named != nullptr) {
      out += named;
      return;
    }
    for (std::size_t k = at; k < at + length; ++k) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", unsigned{static_cast<unsigned char>(name[k])});
      out += hex;
    }
  });
  return out;
}

std::string cleaned_name(const std::string& name) {
  std::string s = trimmed(name);
  bool quoted = false;
  while (s.size() >= 2 && (s.front() == '\'' || s.front() == '"') && s.back() == s.front()) {
    s = trimmed(s.substr(1, s.size() - 2));
    quoted = true;
  }
  // Inside quotes a backslash is the name's own.
  if (!quoted && !backslash_separates_folders) s = unescaped(s);
  if (s.size() >= 2 && s[0] == '~' && is_separator(s[1])) {
    const std::string home = home_folder();
    if (!home.empty()) s = home + s.substr(1);
  }
  return s;
}

std::string folder_part(const std::string& name) {
  std::size_t end = name.size();
  while (end > 0 && !is_separator(name[end - 1])) --end;
  if (end == 0) {
    // C:name is in drive C's current folder.
    const bool drive = backslash_separates_folders && name.size() >= 2 && name[1] == ':';
    return drive ? name.substr(0, 2) : "";
  }
  // The separator ends the folder part, unless it is the root itself.
  const std::size_t root = backslash_separates_folders && end == 3 && name[1] == ':' ? 3 : 1;
  return name.substr(0, end > root ? end - 1 : end);
}

void tell_failed_name(const std::string& name, const std::string& reason, bool is_result) {
  // An empty name where the input ended was never typed.
  if (name.empty() && std::feof(stdin) != 0) {
    begin_message();
    std::fprintf(stderr, "octetcensusmeter: standard input ended before the %s was typed\n",
                 is_result ? "result file's name" : "password file's name");
    return;
  }
  tell_about(name, reason);
  suggest(name, is_result);
}

void console_line_open(bool open) { line_open = open; }

int console_reason = 0;

void flush_console() {
  if (std::fflush(stdout) != 0 && console_reason == 0) console_reason = errno;
}

int console_failure() { return console_reason; }

bool result_folder_still_told(const std::string& name) {
  return told_state != FolderState::folder && result_folder_state(name) == told_state;
}

void warn_about_result_folder(const std::string& name) {
  told_state = result_folder_state(name);
  const char* why = nullptr;
  switch (told_state) {
    case FolderState::folder:
      return;
    case FolderState::missing:
      why = "the folder does not exist";
      break;
    case FolderState::not_a_folder:
      why = "the folder part is not a folder";
      break;
    case FolderState::unreachable:
      why = "the folder cannot be reached (no permission)";
      break;
  }
  tell_about(name, std::string(why) + ", so the result cannot be created");
  suggest(name, true);
}

void tell_waiting_for(const std::string& name) { tell_about(name, held_by_another); }

void warn_about_arguments(int argc) {
  if (argc <= 1) return;
  begin_message();
  std::fputs(
      "octetcensusmeter: takes no arguments (they are ignored); it asks for the two file names, "
      "see man octetcensusmeter\n",
      stderr);
}
