#include "trace_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ostrel_daq {

namespace {

constexpr size_t kTracePoints = 2000;

// 1, 2 or 5 times a power of ten, giving about six ticks over span.
double TickStep(double span) {
    if (!(span > 0)) return 1.0;
    const double raw = span / 6.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 5.0})
        if (raw <= factor * power) return factor * power;
    return 10.0 * power;
}

std::string Format(const char *format, double a, double b = 0, double c = 0, double d = 0,
                   double e = 0, double f = 0) {
    char text[256];
    std::snprintf(text, sizeof text, format, a, b, c, d, e, f);
    return text;
}

std::string Escape(const std::string &text) {
    std::string out;
    for (char character : text) {
        if (character == '<') out += "&lt;";
        else if (character == '>') out += "&gt;";
        else if (character == '&') out += "&amp;";
        else out += character;
    }
    return out;
}

}  // namespace

std::string TracePlot(const std::vector<const int16_t *> &lanes, size_t count,
                      double megasamplesPerSecond, const std::string &title) {
    static const char *kColours[4] = {"#d62728", "#1f77b4", "#2ca02c", "#9467bd"};
    const double width = 900, height = 480, left = 70, right = 150, top = 40, bottom = 50;
    const double plotWidth = width - left - right, plotHeight = height - top - bottom;
    const double microseconds = megasamplesPerSecond > 0 ? count / megasamplesPerSecond : 0.0;
    const size_t stride = count / kTracePoints + 1;
    int low = 32767, high = -32768;
    for (const int16_t *lane : lanes)
        for (size_t i = 0; i < count; ++i) {
            low = std::min<int>(low, lane[i]);
            high = std::max<int>(high, lane[i]);
        }
    if (count == 0 || lanes.empty()) low = high = 0;
    const int margin = std::max(16, (high - low) / 20);
    low -= margin;
    high += margin;
    std::string svg =
        Format("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
               "font-family=\"sans-serif\" font-size=\"12\">\n"
               "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n"
               "<rect x=\"%.0f\" y=\"%.0f\" width=\"%.0f\" height=\"%.0f\" fill=\"none\" "
               "stroke=\"#444\"/>\n",
               width, height, left, top, plotWidth, plotHeight);
    svg += Format("<text x=\"%.0f\" y=\"20\" text-anchor=\"middle\">", left + plotWidth / 2) +
           Escape(title) + "</text>\n";
    if (microseconds > 0) {
        const double step = TickStep(microseconds);
        for (double value = 0; value <= microseconds * (1 + 1e-9); value += step) {
            const double x = left + plotWidth * value / microseconds;
            svg += Format("<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"#ddd\"/>"
                          "<text x=\"%.1f\" y=\"%.0f\" text-anchor=\"middle\">",
                          x, top, x, top + plotHeight, x, top + plotHeight + 16) +
                   Format("%g", value) + "</text>\n";
        }
    }
    const double codeStep = TickStep(high - low);
    for (double value = std::ceil(low / codeStep) * codeStep; value <= high; value += codeStep) {
        const double y = top + plotHeight * (high - value) / (high - low);
        svg += Format("<line x1=\"%.0f\" y1=\"%.1f\" x2=\"%.0f\" y2=\"%.1f\" stroke=\"#ddd\"/>"
                      "<text x=\"%.0f\" y=\"%.1f\" text-anchor=\"end\">",
                      left, y, left + plotWidth, y, left - 6, y + 4) +
               Format("%g", value) + "</text>\n";
    }
    svg += Format("<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"middle\">time (microseconds)</text>\n"
                  "<text x=\"16\" y=\"%.0f\" text-anchor=\"middle\" "
                  "transform=\"rotate(-90 16 %.0f)\">code minus zero offset</text>\n",
                  left + plotWidth / 2, height - 10, top + plotHeight / 2, top + plotHeight / 2);
    for (size_t lane = 0; lane < lanes.size() && lane < 4; ++lane) {
        svg += std::string("<polyline fill=\"none\" stroke=\"") + kColours[lane] +
               "\" stroke-width=\"1\" points=\"";
        for (size_t i = 0; i < count; i += stride) {
            const double x = left + plotWidth * static_cast<double>(i) / static_cast<double>(count);
            const double y = top + plotHeight * (high - lanes[lane][i]) / (high - low);
            svg += Format("%.1f,%.1f ", x, y);
        }
        svg += "\"/>\n" +
               Format("<rect x=\"%.0f\" y=\"%.0f\" width=\"14\" height=\"3\" fill=\"",
                      width - right + 16, top + 10 + 20.0 * lane) +
               kColours[lane] +
               Format("\"/><text x=\"%.0f\" y=\"%.0f\">lane %.0f</text>\n", width - right + 36,
                      top + 15 + 20.0 * lane, static_cast<double>(lane));
    }
    svg += "</svg>\n";
    return svg;
}

}  // namespace ostrel_daq
