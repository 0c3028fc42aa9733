#include "octetcensusmeter.h"
#include "platform.h"

int main() {
  protect_process();
  static AnalysisState state;
  return run_dialogue(state);
}
