// The race an attacker on the same machine runs: a result name that flips,
// as fast as it can, between a harmless file and a link to the password file.
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
      if (symlink(i % 2 == 0 ? "pw" : "decoy", staged.c_str()) == 0) {
        std::rename(staged.c_str(), out.c_str());
      }
    }
  });
  int refused = 0, written = 0;
  for (int run = 0; run < 400; ++run) {
    const RunResult r = run_program(dir.path(), "pw\nout\n\n");
    ASSERT_EQ(dir.read("pw"), std::string("hunter2\n")) << "run " << run;
    if (r.status == 1) {
      ASSERT_TRUE(r.out.ends_with(same_error)) << r.out;
      ++refused;
    } else {
      ASSERT_EQ(r.status, 0);
      ++written;
    }
  }
  stop = true;
  flipper.join();
  std::printf("400 runs: %d refused the password file, %d wrote the decoy\n", refused, written);
}

}  // namespace
