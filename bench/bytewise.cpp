// Bench-only: the two passes built the plain way, one library call per byte:
// the end-of-file indicator tested before each fgetc, one more iteration
// than the file has bytes, the counting guarded by the position, the same
// dots and percentage. Prints the byte counts to the result file.
// Usage: octetcensusmeter_bytewise INPUT RESULT
#include <cstdint>
#include <cstdio>

namespace {

std::uint64_t laenge, laeufer, warte, code[256], code2[256];
std::uint8_t ch, ch_alt, ch_temp, prozent, merker;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::FILE* in = std::fopen(argv[1], "rb");
  if (in == nullptr) return 1;
  while (std::feof(in) == 0) {
    ch = static_cast<std::uint8_t>(std::fgetc(in));
    ++laenge;
    if (++warte > 4999999) {
      std::printf(".");
      std::fflush(stdout);
      warte = 0;
    }
  }
  std::fclose(in);
  --laenge;
  warte = 0;
  std::printf("\nlength : %llu\n", static_cast<unsigned long long>(laenge));

  in = std::fopen(argv[1], "rb");
  std::FILE* out = std::fopen(argv[2], "w+b");
  if (in == nullptr || out == nullptr) return 1;
  std::printf("\n Analyze completed: %d%%", prozent);
  while (std::feof(in) == 0) {
    ch = static_cast<std::uint8_t>(std::fgetc(in));
    if (laeufer < laenge) {
      ++code[ch];
      if (laeufer == 0) {
        ch_alt = ch;
      } else {
        ch_temp = ch;
        ch = ch >= ch_alt ? ch - ch_alt : ch_alt - ch;
        ch_alt = ch_temp;
        ++code2[ch];
      }
    }
    ++warte;
    if (laenge > 10000) {
      if (warte >= laenge / 100) {
        if (prozent < 100) {
          ++prozent;
          if (prozent > 10) std::printf("\b");
          std::printf("\b\b%d%%", prozent);
          std::fflush(stdout);
        }
        warte = 0;
      }
    } else if (merker == 0) {
      merker = 1;
      prozent = 100;
      std::printf("\b\b%d%%", prozent);
      std::fflush(stdout);
    }
    if (laeufer < laenge) ++laeufer;
  }
  for (unsigned v = 0; v < 256; ++v) {
    std::fprintf(out, "Byte 0x%x = %llu \r\n", v, static_cast<unsigned long long>(code[v]));
  }
  for (unsigned d = 0; d < 256; ++d) {
    std::fprintf(out, "difference 0x%x = %llu \r\n", d, static_cast<unsigned long long>(code2[d]));
  }
  std::fclose(out);
  std::fclose(in);
  return 0;
}
