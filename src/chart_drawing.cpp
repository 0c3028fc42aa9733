// The chart of a result file, as SVG.
#include "chart_drawing.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

#include "chart_text.h"

namespace {

constexpr double width = 1200;
constexpr double height = 790;
constexpr double left = 80;  // the plot area of both panels; the average's label right of it
constexpr double plot_width = 1040;
constexpr double plot_height = 230;
constexpr double slot = plot_width / 256;
// The width of a character of an 11-pixel label, generously: text placed by
// it stays inside the chart in any sans-serif font.
constexpr double label_char_width = 6.6;

// Byte kinds, each with its colour and its legend.
struct Kind {
  const char* colour;
  const char* legend;
};
constexpr Kind kinds[] = {{"#9e9e9e", "control 0x0-0x1f, 0x7f"},
                          {"#1f77b4", "digits"},
                          {"#ff7f0e", "capitals"},
                          {"#2ca02c", "small letters"},
                          {"#9467bd", "other printable"},
                          {"#8c564b", "0x80-0xff"}};

const Kind& kind_of(unsigned v) {
  if (v < 0x20 || v == 0x7f) return kinds[0];
  if (v >= '0' && v <= '9') return kinds[1];
  if (v >= 'A' && v <= 'Z') return kinds[2];
  if (v >= 'a' && v <= 'z') return kinds[3];
  return v < 0x80 ? kinds[4] : kinds[5];
}

// A count axis: the top of the scale and where a count stands on it, from 0
// (the axis) to 1 (the top).
struct Scale {
  bool log = false;
  double top = 1;
  double at(double count) const {
    if (!log) return std::min(1.0, count / top);
    return count < 1 ? 0 : std::log10(count / 0.5) / std::log10(top / 0.5);
  }
};

// Round ticks: 1, 2 or 5 times a power of ten apart, about five of them, and
// never less than 1 apart, since counts are whole; on a logarithmic axis the
// powers of ten.
Scale scale_for(double largest, bool log, std::vector<double>& ticks) {
  Scale s;
  s.log = log;
  const double most = std::max(1.0, largest);
  if (log) {
    s.top = std::pow(10, std::ceil(std::log10(most)));
    if (s.top <= most) s.top *= 10;
    const int decades = static_cast<int>(std::lround(std::log10(s.top)));
    const int every = decades > 10 ? 2 : 1;
    for (int d = 0; d <= decades; d += every) ticks.push_back(std::pow(10, d));
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

// One panel: axes, ticks, 256 bars with their tooltips, the average line, the
// two limits and, where given, a line of what chance or an even use gives.
void draw_panel(std::string& svg, const Histogram& h, const TableLimits& limits,
                std::uint64_t total, bool bytes, double top, bool log,
                const std::array<double, 256>* level, const std::string& level_legend) {
  std::vector<double> ticks;
  double largest = static_cast<double>(limits.upper);
  if (level != nullptr)
    largest = std::max(largest, *std::max_element(level->begin(), level->end()));
  const Scale scale = scale_for(largest, log, ticks);
  const double base = top + plot_height;
  const char* what = bytes ? "Byte allocation: how often each byte value occurs"
                           : "Byte diversification: how often each difference of two "
                             "following bytes occurs";
  svg += format("<text x=\"%g\" y=\"%g\" class=\"panel\">%s</text>\n", left, top - 30, what);
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
  if (bytes) {
    for (const char c : std::string_view("!09AZaz~")) {
      const auto v = static_cast<unsigned char>(c);
      svg += format("<text x=\"%.1f\" y=\"%g\" class=\"value\" fill=\"%s\">%s</text>", x_of(v),
                    base + 32, kind_of(v).colour, xml_escaped(std::string(1, c)).c_str());
    }
    svg += "\n";
  }
  // The bars.
  for (unsigned v = 0; v < 256; ++v) {
    const double bar = scale.at(static_cast<double>(h[v])) * plot_height;
    std::string tip = bytes ? format("0x%x", v) : format("difference 0x%x", v);
    if (bytes && v >= 0x20 && v < 0x7f) tip += " '" + xml_escaped(std::string(1, char(v))) + "'";
    tip += " = " + format("%llu", as_llu(h[v]));
    svg += format("<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" fill=\"%s\">",
                  left + v * slot + 0.4, base - bar, slot - 0.8, bar,
                  bytes ? kind_of(v).colour : "#138d90");
    svg += "<title>" + tip + "</title></rect>\n";
  }
  if (level != nullptr) svg += level_line(*level, scale, base, "level");
  // The average, as the result file gives it, labelled right of the bars.
  const std::uint64_t average_count = total / 256;  // rounded down, as in the file
  const auto average = static_cast<double>(average_count);
  if (average > 0 || !log) {
    const double y = base - scale.at(average) * plot_height;
    svg += format("<line x1=\"%g\" y1=\"%.1f\" x2=\"%g\" y2=\"%.1f\" class=\"average\"/>", left, y,
                  left + plot_width, y);
    const std::string shown =
        average_count < 1000000 ? format("%llu", as_llu(average_count)) : short_count(average);
    svg += format(
        "<text x=\"%g\" y=\"%.1f\" class=\"average\">average</text>"
        "<text x=\"%g\" y=\"%.1f\" class=\"average\">%s</text>\n",
        left + plot_width + 6, y - 2, left + plot_width + 6, y + 10, shown.c_str());
  }
  // The limits, as the result file names them.
  const char* noun = bytes ? "Byte" : "difference";
  for (const bool is_upper : {true, false}) {
    const unsigned v = is_upper ? limits.upper_value : limits.lower_value;
    const double y = top - (is_upper ? 4 : 16);
    const char* which = is_upper ? "upper" : "lower";
    svg += format("<path d=\"M%.1f %.1f l-4 -7 h8 z\" class=\"%s\"/>", x_of(v), y, which);
    svg += label_at(x_of(v), y, which,
                    format("%s limit is %s 0x%x = %llu times", which, noun, v,
                           as_llu(is_upper ? limits.upper : limits.lower)));
  }
  // What the lines mean.
  const double legend_y = base + (bytes ? 50 : 36);
  svg += format(
      "<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" class=\"average\"/>"
      "<text x=\"%g\" y=\"%g\" class=\"legend\">average, as the result file gives it</text>\n",
      left, legend_y - 4, left + 24, legend_y - 4, left + 30, legend_y);
  if (level != nullptr) {
    svg += format(
        "<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" class=\"level\"/>"
        "<text x=\"%g\" y=\"%g\" class=\"legend\">%s</text>\n",
        left + 300, legend_y - 4, left + 324, legend_y - 4, left + 330, legend_y,
        xml_escaped(level_legend).c_str());
  }
}

}  // namespace

std::string svg_of(const Tables& t, const Figures& f, const std::string& name, bool log) {
  std::string svg = format(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%g\" height=\"%g\" "
      "viewBox=\"0 0 %g %g\" font-family=\"sans-serif\">\n",
      width, height, width, height);
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
  svg += "<text x=\"20\" y=\"30\" class=\"title\">Octetcensusmeter: " + xml_escaped(name) +
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
  if (f.list && f.list->characters > 0) {
    const ListFigures& l = *f.list;
    const bool fair = !l.p_value || *l.p_value >= 0.01;
    list = format(
        "list of %llu passwords, %.1f characters on average, alphabet %u: at most %.1f bits per "
        "password (%s%s)",
        as_llu(l.lines), l.mean_length, l.alphabet, l.ceiling_bits, strength_of(l.ceiling_bits),
        fair ? "" : " at best");
    if (l.p_value) list += "; a fair draw from it: p " + p_shown(*l.p_value);
    const double level = static_cast<double>(l.characters) / l.alphabet;
    for (unsigned v = 0; v < 256; ++v) {
      even[v] = l.in_alphabet[v] ? level : 0;
    }
    even_legend = format("an even use of the alphabet of %u values", l.alphabet);
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
    x += 14 + 6.5 * static_cast<double>(std::string_view(k.legend).size()) + 14;
  }
  TableLimits byte_limits;
  TableLimits difference_limits;
  limits_of(t, byte_limits, difference_limits);
  draw_panel(svg, t.code, byte_limits, f.bytes, true, 160, log,
             even_legend.empty() ? nullptr : &even, even_legend);
  draw_panel(svg, t.code2, difference_limits, f.pairs, false, 500, log, &f.expected_differences,
             f.list ? "expected by chance: characters independent within the lines"
                    : "expected by chance: bytes independent");
  return svg + "</svg>\n";
}
