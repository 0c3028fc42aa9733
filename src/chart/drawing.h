// The chart: one SVG with the byte allocation above and the diversification
// below, each with its limits and average as the result file gives them and
// the counts chance would give.
#pragma once

#include <string>

#include "chart/figures.h"

// How every chart begins, and nothing else this program reads or writes.
std::string chart_beginning();

// name is the result file's, as it was given; it is made safe here. Counts are
// drawn on a logarithmic axis if log is set.
std::string svg_of(const Tables& tables, const Figures& f, const std::string& name, bool log);
