#include <sys/resource.h>

#include "octetcensusmeter.h"

int main() {
  // A crash must not write password bytes to disk.
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  static AnalysisState state;
  return run_dialogue(state);
}
