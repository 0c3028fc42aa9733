// The race an attacker on the same machine runs: a result name that flips,
// as fast as it can, between a harmless file, a symbolic link to the password
// file and another name (a hard link) of it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "expected.h"
#include "harness.h"

namespace {

TEST(Race, FlippingLinkNeverHarmsThePasswordFile) {
  TempDir dir;
  dir.write("pw", std::string("hunter2\n"));
  dir.write("decoy", "");
  std::atomic<bool> stop{false};
  std::thread flipper([&] {
    const std::string out = dir.file("out");
    const std::string staged = dir.file("staged");
    for (unsigned i = 0; !stop; ++i) {
      unlink(staged.c_str());
      const bool made = i % 3 == 0   ? symlink("pw", staged.c_str()) == 0
                        : i % 3 == 1 ? link(dir.file("pw").c_str(), staged.c_str()) == 0
                                     : link(dir.file("decoy").c_str(), staged.c_str()) == 0 &&
                                           unlink(dir.file("decoy").c_str()) == 0;
      if (made) std::rename(staged.c_str(), out.c_str());
      if (i % 3 == 2) dir.write("decoy", "");  // a fresh decoy with one name
    }
  });
  int as_link = 0, as_input = 0, written = 0;
  for (int run = 0; run < 400; ++run) {
    const RunResult r = run_program(dir.path(), "pw\nout\n\n");
    ASSERT_EQ(dir.read("pw"), std::string("hunter2\n")) << "run " << run;
    if (r.status == 1 && r.out.ends_with(link_error)) {
      ++as_link;
    } else if (r.status == 1) {
      ASSERT_TRUE(r.out.ends_with(same_error)) << r.out;
      ++as_input;
    } else {
      ASSERT_EQ(r.status, 0);
      ++written;
    }
  }
  stop = true;
  flipper.join();
  std::printf(
      "400 runs: %d refused a link, %d refused another name of the password file, "
      "%d wrote the decoy\n",
      as_link, as_input, written);
}

}  // namespace
