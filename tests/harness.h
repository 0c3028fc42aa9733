// Runs the built program as a user would: in a folder of its own, with
// standard input piped in, and collects what it printed and its exit status.
#pragma once

#include <string>
#include <vector>

struct RunResult {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;  // everything written to standard output
};

struct RunOptions {
  std::vector<std::string> env;  // extra NAME=value entries
  std::string stdout_path;       // standard output to this file instead of a pipe
};

RunResult run_program(const std::string& dir, const std::string& input,
                      const RunOptions& options = {});

// A fresh folder below the system's temporary folder, removed at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& bytes) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::string path_;
};
