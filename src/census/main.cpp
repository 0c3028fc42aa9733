#include "census/names.h"
#include "census/octetcensusmeter.h"
#include "census/sliced.h"
#include "platform/platform.h"

// The command line is not used: the program asks for what it needs.
int main(int argc, char** /*argv*/) {
  protect_process();
  warn_about_arguments(argc);
  static AnalysisState state;
  if (bit_slices_run_here()) state.zaehlwerk = Counter::bit_slices;
  return run_dialogue(state);
}
