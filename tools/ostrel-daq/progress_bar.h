// A one-line progress bar, drawn only when standard error is a terminal.
#pragma once

#include <string>

namespace ostrel_daq {

class ProgressBar {
public:
    explicit ProgressBar(std::string label);
    // fraction in 0..1; redraws at most a few times per percent.
    void Update(double fraction, const std::string &detail = "");
    void Finish(const std::string &detail = "");

private:
    std::string label_;
    bool terminal_;
    int lastPermille_ = -1;
};

}  // namespace ostrel_daq
