// What the chart program says of a result file: a few lines for a person, the
// last of which is the verdict, or one JSON object.
#pragma once

#include <string>

#include "chart/figures.h"

// name is the result file's, as it was given; it is made safe here.
std::string json_of(const Figures& f, const std::string& name);
std::string words_of(const Figures& f, const std::string& name);

// The list's line on the chart: its size, alphabet and verdict in short.
std::string list_line(const ListFigures& l);
