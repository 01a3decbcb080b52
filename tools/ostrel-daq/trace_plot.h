// A scope trace of one frame as an SVG picture: time across, codes up, one coloured line per lane.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ostrel_daq {

// The SVG text of the lanes' first `count` points at `megasamplesPerSecond`, decimated to about
// 2000 points per lane; title goes above the plot.
std::string TracePlot(const std::vector<const int16_t *> &lanes, size_t count,
                      double megasamplesPerSecond, const std::string &title);

}  // namespace ostrel_daq
