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

// How an attempt to open the result ended: opened, or why not.
enum class ResultOpen {
  opened,
  failed,        // could not be opened or created
  is_link,       // the name itself is a symbolic link (or another reparse point)
  is_input,      // the file opened is the open input itself, by whatever name or identity
  block_device,  // a disk, a partition, a volume: never written
  device,        // a name the system gives a device in any folder (Windows' AUX, COM1, nul.txt)
  foreign,       // belongs to another user (a character device of the system's excepted)
  many_names,    // a regular file with more than one name (a hard link)
  foreign_link,  // a folder on the way is reached through another user's symbolic link
  not_own,       // a regular file that holds something, not beginning as the program's own
  no_reader,     // a FIFO that no one reads, where a reader is needed
};

// What the system tells of an open result, for the one judge that decides
// whether it may be written (open_result, census/guard.h).
enum class ResultKind { regular, folder, fifo, character_device, block_device, other };
enum class Owner { user, system, other };  // system: root; on Windows SYSTEM, Administrators
struct ResultFacts {
  ResultKind kind = ResultKind::other;
  Owner owner = Owner::other;
  bool link = false;              // the last part of the name is a link, opened itself
  bool device_name = false;       // the name is one the system gives a device in any folder
  bool is_input = false;          // the same identity as the open input
  std::uint64_t names = 1;        // how many names the file has in its file system
  bool may_be_shared = false;     // others may have access: made private before it is written
  bool input_rereadable = false;  // the input can be read again at offsets: a file or a disk
};

// Opens the result for binary reading and writing, created private (owner
// only) if it is missing and NOT emptied: an existing file keeps what it holds
// until empty_result. The folders on the way are walked one at a time: a
// symbolic link among them is followed only if it belongs to the user or to
// root (else foreign_link), and one as the last part of the name not at all
// (is_link). Where fifo_reader_needed, an existing FIFO is opened for writing
// alone and only while someone reads it (else no_reader): more than a pipe
// holds would otherwise wait for a reader forever. Where another program's
// hold keeps the open itself waiting (Windows' sharing), waiting is called
// once after about a second, with the name. The file, with what the system
// tells of it against the open input in facts; or -1 with the reason in how
// and the system's reason kept for failure_reason.
int open_result_file(const std::string& name, int input, bool fifo_reader_needed,
                     void (*waiting)(const std::string& name), ResultOpen& how, ResultFacts& facts);

// Locks a regular result for this process alone until it is closed: a second
// run on the same name waits, and so does this one for another program's
// lock, calling waiting once after about a second. False when locking failed.
bool lock_result(int result, const std::string& name, void (*waiting)(const std::string& name));

// Reads from the open file at offset at without moving its position: the
// number of bytes read, 0 at its end, -1 when reading failed.
long read_at(int file, char* buffer, std::size_t size, std::uint64_t at);

// Gives an open result the access of a new one: its owner's alone. False when
// that failed.
bool make_private(int result);

// The open result as a stream for binary writing; nullptr when that failed,
// with the file left open.
std::FILE* result_stream(int result);

// Closes a result file that was not made a stream; the system's reason for a
// failure before is kept.
void close_result_file(int result);

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
