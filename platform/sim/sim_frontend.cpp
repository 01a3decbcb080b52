// The board's own reading of its front-end registers. It is written from the board's side of the
// register map and shares no code with the engine's codings, so tests can hold one against the
// other.
#include "platform/sim/sim_board.h"

namespace ostrel::sim {
namespace {

constexpr int32_t kNone = 0;  // no such register on the model (index 0 is never a register)

// How a model keeps one setting.
enum class Layout {
    Absent,     // no register: reads 0 (attenuation) or the fixed input
    Whole,      // the register holds the value itself
    LaneBit,    // bit n is lane n: set reads 1
    LaneBitInv, // bit n is lane n: set reads 0 (model 6 gain)
    GainCode,   // codes 3, 2, 4 are gains 0, 1, 2
    InputCode,  // codes 3, 2, 0, 1 are input channels 0, 1, 2, 3
    InputPlain, // the register is the input channel 0..3
    InputLane   // no selector: the lane is the input
};

struct Setting {
    int32_t registerIndex;
    Layout layout;
};

struct FrontEndModel {
    int modelType;
    Setting inputChannel, coupling, termination, gain, attenuation;
};

constexpr FrontEndModel kFrontEnds[] = {
    {5, {-1014, Layout::InputPlain}, {-1008, Layout::Whole}, {-1006, Layout::Whole},
     {-1012, Layout::GainCode}, {-1010, Layout::Whole}},
    {6, {kNone, Layout::InputLane}, {-2034, Layout::LaneBit}, {-2032, Layout::LaneBit},
     {-2036, Layout::LaneBitInv}, {kNone, Layout::Absent}},
    {7, {kNone, Layout::Absent}, {-2034, Layout::Whole}, {-2032, Layout::Whole},
     {-2036, Layout::Whole}, {kNone, Layout::Absent}},
    {8, {kNone, Layout::InputLane}, {-2034, Layout::LaneBit}, {-2032, Layout::LaneBit},
     {-2036, Layout::LaneBit}, {kNone, Layout::Absent}},
    {9, {kNone, Layout::InputLane}, {-2034, Layout::LaneBit}, {-2032, Layout::LaneBit},
     {-2036, Layout::LaneBit}, {kNone, Layout::Absent}},
    {10, {-2038, Layout::InputCode}, {-2034, Layout::Whole}, {-2032, Layout::Whole},
     {-2036, Layout::GainCode}, {-2030, Layout::Whole}},
};

constexpr int kGainOfCode[] = {-1, -1, 1, 0, 2};          // code -> gain
constexpr int kInputChannelOfCode[] = {2, 3, 1, 0};       // code -> input channel
constexpr int kSingleLaneInputs = 4;

int Decode(const BoardPort &board, const Setting &setting, int lane) {
    const uint32_t value =
        setting.registerIndex == kNone ? 0u : board.ControlRegister(setting.registerIndex);
    const uint32_t bit = (value >> (static_cast<unsigned>(lane) & 31u)) & 1u;
    switch (setting.layout) {
    case Layout::Absent: return 0;
    case Layout::Whole: return static_cast<int>(value);
    case Layout::LaneBit: return static_cast<int>(bit);
    case Layout::LaneBitInv: return bit != 0 ? 0 : 1;
    case Layout::GainCode:
        return value < sizeof(kGainOfCode) / sizeof(kGainOfCode[0]) ? kGainOfCode[value] : -1;
    case Layout::InputCode:
        return value < sizeof(kInputChannelOfCode) / sizeof(kInputChannelOfCode[0])
                   ? kInputChannelOfCode[value]
                   : -1;
    case Layout::InputPlain:
        return value < static_cast<uint32_t>(kSingleLaneInputs) ? static_cast<int>(value) : -1;
    case Layout::InputLane: return lane;
    }
    return -1;
}

}  // namespace

bool DecodeFrontEnd(const BoardPort &board, int input, SimFrontEnd *out) {
    if (out == nullptr) return false;
    const int modelType = board.ModelType();
    for (const FrontEndModel &model : kFrontEnds) {
        if (model.modelType != modelType) continue;
        const int lanes = LanesOfModel(modelType);
        // Single-lane boards: the input is one of the selectable channels; the one front end
        // serves whichever is selected.
        const int inputs = lanes == 1 ? kSingleLaneInputs : lanes;
        if (input < 0 || input >= inputs) return false;
        const int lane = lanes == 1 ? 0 : input;
        SimFrontEnd decoded;
        decoded.inputChannel = Decode(board, model.inputChannel, input);
        decoded.coupling = Decode(board, model.coupling, lane);
        decoded.termination = Decode(board, model.termination, lane);
        decoded.gain = Decode(board, model.gain, lane);
        decoded.attenuation = Decode(board, model.attenuation, lane);
        *out = decoded;
        return true;
    }
    return false;
}

}  // namespace ostrel::sim
