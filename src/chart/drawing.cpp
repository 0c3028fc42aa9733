// The chart of a result file, as SVG.
#include "chart/drawing.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

#include "chart/text.h"
#include "chart/words.h"

namespace {

constexpr double width = 1200;
constexpr double height = 790;
constexpr double left = 80;  // the plot area of both panels; the average's label right of it
constexpr double plot_width = 1040;
constexpr double plot_height = 230;
constexpr double slot = plot_width / 256;
// The width of a character of an 11-pixel label, generously: text placed by
// it stays inside the chart in any sans-serif font. A legend's 12-pixel
// entries are spaced by their own, a little less.
constexpr double label_char_width = 6.6;
constexpr double legend_char_width = 6.5;
// The same for the 20-pixel bold title: a character of ASCII, and any other,
// which may be as wide as the font is high.
constexpr double title_ascii_width = 12;
constexpr double title_other_width = 20;
constexpr const char* difference_colour = "#138d90";  // teal: the difference bars

// Byte kinds, each with its colour, its legend and the character class it
// draws; the control bytes are what no class here holds.
struct Kind {
  const char* colour;
  const char* legend;
  const char* values;  // the name of its class in character_classes
};
constexpr Kind kinds[] = {{"#9e9e9e", "control 0x0-0x1f, 0x7f", nullptr},
                          {"#1f77b4", "digits", "digits"},
                          {"#ff7f0e", "capitals", "capitals"},
                          {"#2ca02c", "small letters", "small letters"},
                          {"#9467bd", "other printable", "other printable"},
                          {"#8c564b", "0x80-0xff", "0x80 and above"}};

const Kind& kind_of(unsigned v) {
  for (const Kind& k : kinds) {
    for (const CharacterClass& c : character_classes) {
      if (k.values != nullptr && std::string_view(c.name) == k.values && c.holds(v)) return k;
    }
  }
  return kinds[0];
}

// A count axis: the top of the scale and where a count stands on it, from 0
// (the axis) to 1 (the top).
struct Scale {
  bool log = false;
  double top = 1;
  double at(double count) const {
    if (!log) return std::min(1.0, count / top);
    // The axis starts at 0.5, so that a count of 1 has a bar; what lies below
    // it is drawn at its bottom edge.
    return count <= 0.5 ? 0 : std::log10(count / 0.5) / std::log10(top / 0.5);
  }
};

// Round ticks: 1, 2 or 5 times a power of ten apart, about five of them, and
// never less than 1 apart, since counts are whole; on a logarithmic axis the
// powers of ten, and 2 and 5 times them where the axis spans two decades or less.
Scale scale_for(double largest, bool log, std::vector<double>& ticks) {
  Scale s;
  s.log = log;
  const double most = std::max(1.0, largest);
  if (log) {
    s.top = std::pow(10, std::ceil(std::log10(most)));
    if (s.top <= most) s.top *= 10;
    const int decades = static_cast<int>(std::lround(std::log10(s.top)));
    const int every = decades > 10 ? 2 : 1;
    for (int d = 0; d <= decades; d += every) {
      ticks.push_back(std::pow(10, d));
      if (decades <= 2 && d < decades) {
        ticks.push_back(2 * std::pow(10, d));
        ticks.push_back(5 * std::pow(10, d));
      }
    }
    return s;
  }
  const double raw = most / 5;
  const double power = std::pow(10, std::floor(std::log10(raw)));
  double step = power;
  for (const double m : {1.0, 2.0, 5.0, 10.0}) {
    step = m * power;
    if (step >= raw) break;
  }
  step = std::max(step, 1.0);
  const long steps = std::lround(std::ceil(most / step));
  s.top = static_cast<double>(steps) * step;
  for (long i = 0; i <= steps; ++i) ticks.push_back(static_cast<double>(i) * step);
  return s;
}

double x_of(unsigned v) { return left + (v + 0.5) * slot; }

// A label at x that reaches right from it, or left where it would leave the chart.
std::string label_at(double x, double y, const char* css_class, const std::string& text) {
  const double text_width = label_char_width * static_cast<double>(text.size());
  const bool leftwards = x + 8 + text_width > width - 4;
  return format("<text x=\"%.1f\" y=\"%.1f\" class=\"%s\" text-anchor=\"%s\">%s</text>\n",
                leftwards ? std::max(x - 8, text_width + 4) : x + 8, y, css_class,
                leftwards ? "end" : "start", xml_escaped(text).c_str());
}

// Whether any of the counts stands above the bottom of the axis.
bool shows_above_the_axis(const std::array<double, 256>& counts, const Scale& scale) {
  return std::any_of(counts.begin(), counts.end(), [&](double c) { return scale.at(c) > 0; });
}

// An entry of a panel's legend at x: a swatch of a bar's colour, or a piece
// of a line's class, then its text; x moves past it.
void legend_entry(std::string& svg, double& x, double y, const char* bar_colour,
                  const char* line_class, const std::string& text) {
  if (bar_colour != nullptr) {
    svg += format("<rect x=\"%g\" y=\"%g\" width=\"10\" height=\"10\" fill=\"%s\"/>", x, y - 9,
                  bar_colour);
  } else {
    svg += format("<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" class=\"%s\"/>", x, y - 4, x + 24,
                  y - 4, line_class);
  }
  const double text_x = x + (bar_colour != nullptr ? 14 : 30);
  svg += format("<text x=\"%g\" y=\"%g\" class=\"legend\">%s</text>\n", text_x, y,
                xml_escaped(text).c_str());
  x = text_x + legend_char_width * static_cast<double>(text.size()) + 24;
}

// A horizontal line, or the outline of one count for each slot, over the bars.
std::string level_line(const std::array<double, 256>& counts, const Scale& scale, double base,
                       const char* css_class) {
  std::string points;
  for (unsigned v = 0; v < 256; ++v) {
    const double y = base - scale.at(counts[v]) * plot_height;
    points += format("%.2f,%.1f %.2f,%.1f ", left + v * slot, y, left + (v + 1) * slot, y);
  }
  points.pop_back();
  return format("<polyline points=\"%s\" class=\"%s\"/>\n", points.c_str(), css_class);
}

// What a panel draws: one table, its limits and its words.
struct Panel {
  const Histogram& counts;
  const TableLimits& limits;
  std::uint64_t total;  // of the table: its 256th part is the average
  double top;           // the top of the plot area
  const char* title;
  const char* noun;         // a value in the limits' labels: "Byte", "difference"
  const char* tip;          // a bar's tooltip: "0x%x", "difference 0x%x"
  const char* marks;        // byte values marked below the axis, in their kind's colour,
                            // and named as characters in the tooltips; "" for none
  const char* bars_legend;  // nullptr where the kinds' legend tells the bars
  const std::array<double, 256>* level;  // a line of what chance or an even use gives
  std::string level_legend;
};

// One panel: axes, ticks, 256 bars with their tooltips, the average line, the
// two limits and, where given, its level line.
void draw_panel(std::string& svg, const Panel& p, bool log) {
  const Histogram& h = p.counts;
  const TableLimits& limits = p.limits;
  const bool by_kind = *p.marks != '\0';
  const double top = p.top;
  std::vector<double> ticks;
  double largest = static_cast<double>(limits.upper);
  if (p.level != nullptr)
    largest = std::max(largest, *std::max_element(p.level->begin(), p.level->end()));
  const Scale scale = scale_for(largest, log, ticks);
  const double base = top + plot_height;
  svg += format("<text x=\"%g\" y=\"%g\" class=\"panel\">%s</text>\n", left, top - 30, p.title);
  // The count axis and its grid.
  for (const double t : ticks) {
    const double y = base - scale.at(t) * plot_height;
    svg += format("<line x1=\"%g\" y1=\"%.1f\" x2=\"%g\" y2=\"%.1f\" class=\"grid\"/>", left, y,
                  left + plot_width, y);
    svg += format("<text x=\"%g\" y=\"%.1f\" class=\"count\">%s</text>\n", left - 6, y + 4,
                  short_count(t).c_str());
  }
  // The value axis, a tick every 0x10, and the characters a reader looks for.
  svg += format("<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" class=\"axis\"/>\n", left, base,
                left + plot_width, base);
  for (unsigned v = 0; v <= 0x100; v += 0x10) {
    const unsigned shown = std::min(v, 0xffu);
    svg += format("<line x1=\"%.1f\" y1=\"%g\" x2=\"%.1f\" y2=\"%g\" class=\"axis\"/>", x_of(shown),
                  base, x_of(shown), base + 5);
    svg += format("<text x=\"%.1f\" y=\"%g\" class=\"value\">0x%x</text>\n", x_of(shown), base + 18,
                  shown);
  }
  if (by_kind) {
    for (const char c : std::string_view(p.marks)) {
      const auto v = static_cast<unsigned char>(c);
      svg += format("<text x=\"%.1f\" y=\"%g\" class=\"value\" fill=\"%s\">%s</text>", x_of(v),
                    base + 32, kind_of(v).colour, xml_escaped(std::string(1, c)).c_str());
    }
    svg += "\n";
  }
  // The bars.
  for (unsigned v = 0; v < 256; ++v) {
    const double bar = scale.at(static_cast<double>(h[v])) * plot_height;
    std::string tip = format(p.tip, v);
    if (by_kind && v >= 0x20 && v < 0x7f) tip += " '" + xml_escaped(std::string(1, char(v))) + "'";
    tip += " = " + format("%llu", as_llu(h[v]));
    svg += format("<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" fill=\"%s\">",
                  left + v * slot + 0.4, base - bar, slot - 0.8, bar,
                  by_kind ? kind_of(v).colour : difference_colour);
    svg += "<title>" + tip + "</title></rect>\n";
  }
  const bool level_shown = p.level != nullptr && shows_above_the_axis(*p.level, scale);
  if (level_shown) svg += level_line(*p.level, scale, base, "level");
  // The average, as the result file gives it, labelled right of the bars.
  const std::uint64_t average_count = p.total / 256;  // rounded down, as in the file
  const auto average = static_cast<double>(average_count);
  const bool average_shown = !log || scale.at(average) > 0;
  if (average_shown) {
    const double y = base - scale.at(average) * plot_height;
    svg += format("<line x1=\"%g\" y1=\"%.1f\" x2=\"%g\" y2=\"%.1f\" class=\"average\"/>", left, y,
                  left + plot_width, y);
    // Its label stays above the axis, clear of the value axis's 0xff.
    const double label_y = std::min(y, base - 14);
    const std::string shown =
        average_count < 1000000 ? format("%llu", as_llu(average_count)) : short_count(average);
    svg += format(
        "<text x=\"%g\" y=\"%.1f\" class=\"average\">average</text>"
        "<text x=\"%g\" y=\"%.1f\" class=\"average\">%s</text>\n",
        left + plot_width + 6, label_y - 2, left + plot_width + 6, label_y + 10, shown.c_str());
  }
  // The limits, as the result file names them.
  for (const bool is_upper : {true, false}) {
    const unsigned v = is_upper ? limits.upper_value : limits.lower_value;
    const double y = top - (is_upper ? 4 : 16);
    const char* which = is_upper ? "upper" : "lower";
    svg += format("<path d=\"M%.1f %.1f l-4 -7 h8 z\" class=\"%s\"/>", x_of(v), y, which);
    svg += label_at(x_of(v), y, which,
                    format("%s limit is %s 0x%x = %llu times", which, p.noun, v,
                           as_llu(is_upper ? limits.upper : limits.lower)));
  }
  // What the bars and lines mean; a line that nothing shows is left out.
  double x = left;
  const double legend_y = base + (by_kind ? 50 : 36);  // below the marks
  if (p.bars_legend != nullptr)
    legend_entry(svg, x, legend_y, difference_colour, nullptr, p.bars_legend);
  if (average_shown) {
    legend_entry(svg, x, legend_y, nullptr, "average", "average, as the result file gives it");
  }
  if (level_shown) legend_entry(svg, x, legend_y, nullptr, "level", p.level_legend);
}

// The name as the title shows it: cut at a whole character, with an
// ellipsis, where it would run past the chart's right edge after the title's
// first words.
std::string title_name(const std::string& name) {
  std::string clean = clean_utf8(name);
  const double room = width - 40 - title_ascii_width * 18;  // after "Octetcensusmeter: "
  const auto width_of = [](unsigned char lead) {
    return lead < 0x80 ? title_ascii_width : title_other_width;
  };
  double total = 0;
  for (const char c : clean) {
    if ((static_cast<unsigned char>(c) & 0xc0) != 0x80) total += width_of(c);
  }
  if (total <= room) return clean;
  double used = title_other_width;  // the ellipsis
  std::size_t cut = 0;
  for (; cut < clean.size(); ++cut) {
    const auto b = static_cast<unsigned char>(clean[cut]);
    if ((b & 0xc0) == 0x80) continue;
    used += width_of(b);
    if (used > room) break;
  }
  return clean.substr(0, cut) + "\xe2\x80\xa6";
}

}  // namespace

std::string chart_beginning() {
  return format(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%g\" height=\"%g\" "
      "viewBox=\"0 0 %g %g\" font-family=\"sans-serif\">\n",
      width, height, width, height);
}

std::string svg_of(const Tables& t, const Figures& f, const std::string& name, bool log) {
  std::string svg = chart_beginning();
  svg +=
      "<style>\n"
      "@page { size: landscape; margin: 10mm; }\n"
      "@media print { svg { width: 100%; height: auto; } }\n"
      ".title { font-size: 20px; font-weight: bold; }\n"
      ".facts, .panel { font-size: 14px; }\n"
      ".panel { font-weight: bold; }\n"
      ".count { font-size: 11px; text-anchor: end; }\n"
      ".value { font-size: 11px; text-anchor: middle; }\n"
      ".legend { font-size: 12px; }\n"
      ".grid { stroke: #e0e0e0; }\n"
      ".axis { stroke: #333; }\n"
      "line.average { stroke: #d62728; stroke-dasharray: 6 4; }\n"
      "text.average { font-size: 11px; fill: #d62728; }\n"
      ".level { fill: none; stroke: #111; stroke-width: 1.5; }\n"
      "path.upper { fill: #7b1fa2; } text.upper { font-size: 11px; fill: #7b1fa2; }\n"
      "path.lower { fill: #00695c; } text.lower { font-size: 11px; fill: #00695c; }\n"
      "</style>\n"
      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  // The whole name in the document's title, where a viewer shows it on demand.
  svg += "<title>Octetcensusmeter: " + xml_escaped(name) + "</title>\n";
  svg +=
      "<text x=\"20\" y=\"30\" class=\"title\">Octetcensusmeter: " + xml_escaped(title_name(name)) +
      "</text>\n";
  std::string facts = format("%llu bytes, %u distinct values, entropy %.3f bits per byte",
                             as_llu(f.bytes), f.distinct, f.entropy);
  facts += f.evenness ? format(", evenness %.3f", *f.evenness) : ", evenness -";
  if (f.p_value) {
    facts += format(", chi-square %s, p %s", expected_count(*f.chi_square).c_str(),
                    p_shown(*f.p_value).c_str());
  }
  svg += "<text x=\"20\" y=\"54\" class=\"facts\">" + xml_escaped(facts) + "</text>\n";
  const std::string chance =
      format("repeats %llu (by chance about %s), steps of one %llu (by chance about %s)",
             as_llu(f.repeats), expected_count(f.expected_repeats).c_str(), as_llu(f.steps_of_one),
             expected_count(f.expected_steps_of_one).c_str());
  const std::string chance_shown = chance + (log ? "; counts on a logarithmic axis" : "");
  std::string list;
  std::array<double, 256> even{};
  std::string even_legend;
  if (f.list && f.list->bytes > 0) {
    const ListFigures& l = *f.list;
    list = list_line(l);
    // An even use of the values that occur.
    const double level = static_cast<double>(l.bytes) / l.alphabet;
    for (unsigned v = 0; v < 256; ++v) {
      even[v] = l.in_alphabet[v] ? level : 0;
    }
    even_legend = format("an even use of the %u values that occur", l.alphabet);
  }
  svg += "<text x=\"20\" y=\"76\" class=\"facts\">" + xml_escaped(chance_shown) + "</text>\n";
  if (!list.empty()) {
    svg += "<text x=\"20\" y=\"98\" class=\"facts\">" + xml_escaped(list) + "</text>\n";
  }
  // The legend of the byte kinds, to the right of the first panel's title.
  double x = 500;
  for (const Kind& k : kinds) {
    svg += format("<rect x=\"%g\" y=\"%d\" width=\"10\" height=\"10\" fill=\"%s\"/>", x, 121,
                  k.colour);
    svg += format("<text x=\"%g\" y=\"%d\" class=\"legend\">%s</text>\n", x + 14, 130, k.legend);
    x += 14 + legend_char_width * static_cast<double>(std::string_view(k.legend).size()) + 14;
  }
  TableLimits byte_limits;
  TableLimits difference_limits;
  limits_of(t, byte_limits, difference_limits);
  const Panel panels[] = {
      {t.code, byte_limits, f.bytes, 160, "Byte allocation: how often each byte value occurs",
       "Byte", "0x%x", "!09AZaz~", nullptr, even_legend.empty() ? nullptr : &even, even_legend},
      {t.code2, difference_limits, f.pairs, 500,
       "Byte diversification: how often each difference of two following bytes occurs",
       "difference", "difference 0x%x", "", "how often a difference occurs",
       &f.expected_differences, std::string("expected by chance: ") + chance_word(f)},
  };
  for (const Panel& p : panels) draw_panel(svg, p, log);
  return svg + "</svg>\n";
}
