// Past 4 GiB: counts that no 32-bit counter could hold, on a sparse file with
// a few known bytes at offsets that 32-bit arithmetic gets wrong.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "expected.h"
#include "harness.h"

namespace {

TEST(Large, SparseFilePast4GiBIsCountedExactly) {
  constexpr std::uint64_t n = (std::uint64_t{4} << 30) + 1000;
  constexpr std::uint64_t two_gib = std::uint64_t{1} << 31;
  constexpr std::uint64_t four_gib = std::uint64_t{1} << 32;
  // Apart from each other, so that each has zeros on both sides but the first and the last.
  const std::vector<std::pair<std::uint64_t, unsigned char>> known = {{0, 'A'},
                                                                      {two_gib - 1, 0x7f},
                                                                      {two_gib + 1, 0x80},
                                                                      {four_gib - 1, 0xff},
                                                                      {four_gib + 1, 0x01},
                                                                      {n - 1, 'z'}};
  TempDir dir;
  dir.write("pw", "");
  std::filesystem::resize_file(dir.file("pw"), n);
  {
    std::fstream pw(dir.file("pw"), std::ios::in | std::ios::out | std::ios::binary);
    for (const auto& [at, byte] : known) {
      pw.seekp(static_cast<std::streamoff>(at));
      pw.put(static_cast<char>(byte));
    }
  }
  ASSERT_EQ(std::filesystem::file_size(dir.file("pw")), n);

  // All zeros, then each known byte in place of one zero and beside one or two.
  Census c;
  c.code[0] = n;
  c.code2[0] = n - 1;
  for (const auto& [at, byte] : known) {
    const std::uint64_t neighbours = at == 0 || at == n - 1 ? 1 : 2;
    --c.code[0];
    ++c.code[byte];
    c.code2[0] -= neighbours;
    c.code2[byte] += neighbours;
  }
  const Report report = report_of(c);

  const RunResult r = run_program(dir.path(), "pw\nout.txt\n\n");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, banner_and_prompts() + length_pass(n) + progress(n) + report.console + finish);
  EXPECT_EQ(dir.read("out.txt"), report.file);
}

}  // namespace
