// What the standard library does not give and each system does its own way:
// opening and reading the input, opening the result safely, wiping memory and
// guarding the process. The rest of the program does not know where it runs.
// This folder is the lowest layer: it includes nothing of the project's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// How an attempt to open the input ended.
enum class InputOpen {
  opened,
  failed,            // missing, unreadable, or no name of a file
  once_only,         // a pipe, a socket or a terminal: a second pass would read other bytes
  character_device,  // any other character device (/dev/zero): it has no end, or no fixed one
};

// Opens the file for binary reading without waiting for a pipe's writer: a
// regular file, a folder (whose read then fails) or a block device. A caller
// that reads its input only once (once_is_enough) is given a pipe, a socket or
// a terminal too, a named pipe once its writer has come. Returns the open
// file, or -1 with the reason in how.
int open_input(const std::string& name, InputOpen& how, bool once_is_enough = false);

// Standard input, for binary reading, as a file of its own that close_input closes.
int standard_input();

// Which file an open file is, whatever name led to it: the device and the
// inode, or the volume and the file index.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};

// False when the system could not tell.
bool identify(int file, FileIdentity& identity);

// Fills the buffer from the input: the number of bytes read, 0 at the end of
// the file, -1 when the read failed.
long read_block(int input, unsigned char* buffer, std::size_t size);

// Moves past bytes of the input without needing them, for the pass that only
// measures: the number of bytes passed, 0 at the end of the file, -1 when
// reading failed. Every byte is still read from the file; where the system
// can, without copying it into the buffer and then in steps larger than size.
long skip_block(int input, unsigned char* buffer, std::size_t size);

// The length of the open input without reading it, where the file system is
// known to report its files' sizes truly: a regular file on ext2/3/4, XFS,
// Btrfs, tmpfs or F2FS; on Windows, a disk file on NTFS, ReFS or FAT. False for
// anything else, which must be read to its end to be measured.
bool trusted_length(int input, std::uint64_t& length);

void close_input(int input);

// How an attempt to open the result ended.
enum class ResultOpen {
  opened,
  failed,        // could not be opened or created
  is_link,       // the name itself is a symbolic link (or another reparse point)
  is_input,      // the file opened is the open input itself, by whatever name
  block_device,  // a disk, a partition, a volume: never written
  foreign,       // belongs to another user (a character device of root's excepted)
  many_names,    // a regular file with more than one name (a hard link)
  foreign_link,  // a folder on the way is reached through another user's symbolic link
  device,        // a device that is not the null device (Windows' AUX, COM1, nul.txt)
  not_own,       // a regular file that holds something, not beginning with own_beginning
  no_reader,     // a FIFO that no one reads, where a reader is needed
};

// Opens the result for binary writing, created private (owner only) if it is
// missing and NOT emptied: an existing file keeps what it holds until
// empty_result. The folders on the way are walked one at a time: a symbolic
// link among them is followed only if it belongs to the user or to root, and
// one as the last part of the name not at all. The file opened is checked,
// not the name, in the order of ResultOpen. A regular result is locked for
// this process alone until it is closed: a second run on the same name waits.
// Another program's hold on the file (a lock, or on Windows an open without
// write sharing) is waited for; after about a second, waiting is called once
// with the name, to say so. Once locked, where own_beginning is given, an
// existing regular file that holds anything is written only if it begins
// with these bytes: a file this program wrote; seen (if given) then receives
// the first refused_head bytes of one that does not, for saying what it is.
// A result that holds exactly the input's bytes is the input under another
// identity. An existing result that may be written is made private (owner
// only) first. Returns the stream, or nullptr with the reason in how; a
// refused file is left as it was. Where fifo_reader_needed, a FIFO is written
// only while someone reads it: more than a pipe holds would otherwise wait
// for a reader forever.
constexpr std::size_t refused_head = 65536;
std::FILE* open_result(const std::string& name, int input, ResultOpen& how,
                       std::string_view own_beginning = {},
                       void (*waiting)(const std::string& name) = nullptr,
                       bool fifo_reader_needed = false, std::string* seen = nullptr);

// Empties a regular result file before its first write; devices are left
// alone. False when that failed.
bool empty_result(std::FILE* result);

// Overwrites memory with zeros in a way the compiler cannot leave out.
void wipe(void* memory, std::size_t size);

// Called first thing: no core dumps and no reading of this process's memory
// by others; a closed console pipe or a file size limit become write errors
// instead of killing the process; the console speaks UTF-8 where that is not
// the default.
void protect_process();

// The reason the system gave for the call that just failed, in its words
// ("No such file or directory", "Access is denied.").
std::string failure_reason();

// What a name is said to mean where it is shown, not opened: whether something
// exists under it, and what its folder is.
bool name_exists(const std::string& name);
enum class FolderState { folder, missing, not_a_folder, unreachable };
FolderState folder_state(const std::string& folder);

// Whether the stream is a terminal (a console on Windows).
bool is_terminal(std::FILE* stream);

// The user's home folder, for a name that starts with ~/; "" if unknown.
std::string home_folder();

// Windows separates folders with \ as well as /; elsewhere a backslash is
// part of a name, and a shell uses it to escape the next character.
extern const bool backslash_separates_folders;

// The command line, each argument in UTF-8 where the system has its own
// encoding for it.
std::vector<std::string> program_arguments(int argc, char** argv);
