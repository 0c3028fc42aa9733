// Past 4 GiB: counts that no 32-bit counter could hold, on a sparse file.
#include <gtest/gtest.h>
#include <unistd.h>

#include "expected.h"
#include "harness.h"

namespace {

TEST(Large, SparseFilePast4GiBIsCountedExactly) {
  constexpr std::uint64_t n = (std::uint64_t{4} << 30) + 1000;
  TempDir dir;
  dir.write("pw", "");
  ASSERT_EQ(truncate(dir.file("pw").c_str(), static_cast<off_t>(n)), 0);

  const RunResult r = run_program(dir.path(), "pw\nout.txt\n\n");
  ASSERT_EQ(r.status, 0);
  const std::string& prompts = banner_and_prompts();
  ASSERT_TRUE(r.out.starts_with(prompts + length_pass(n)));
  const std::string total = std::to_string(n);
  const std::string pairs = std::to_string(n - 1);
  EXPECT_TRUE(contains(r.out, "upper limit is Byte 0x0 = " + total + " times\n"));
  EXPECT_TRUE(contains(r.out, "upper limit is difference 0x0 = " + pairs + " times\n"));
  EXPECT_TRUE(contains(r.out, "\b\b\b100%\n\nByte allocation"));

  const std::string file = dir.read("out.txt");
  EXPECT_TRUE(file.starts_with("\r\nByte allocation: \r\n\r\nByte 0x0 = " + total + " \r\n"));
  EXPECT_TRUE(contains(file, "Byte 0x1 = 0 \r\n"));
  EXPECT_TRUE(contains(file, "difference 0x0 = " + pairs + " \r\n"));
  EXPECT_TRUE(contains(file, "calculate average frequency = " + std::to_string(n / 256) + " \r\n"));
}

}  // namespace
