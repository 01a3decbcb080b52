#include "platform/sim/signal_tables.h"

#include <atomic>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace ostrel::sim {

namespace {

constexpr double kRatesModel5[] = {50, 40, 30, 25, 24, 20, 15, 12.5, 12, 10, 8,
                                   7.5, 6, 5, 4, 3, 2.5, 2, 1.5, 1, 0.5};
constexpr double kRatesModel8[] = {75, 50, 40, 37.5, 25, 20, 18.75, 16,
                                   12.5, 10, 8, 5, 4, 2.5, 2, 1};
constexpr double kRatesModel6[] = {150, 150, 150, 150, 150, 150};
constexpr double kRatesModel7[] = {500, 500, 500, 500, 500, 500};
constexpr double kRates250[] = {250, 250, 250, 250, 250, 250};

template <std::size_t N>
constexpr uint32_t CountOf(const double (&)[N]) {
    return static_cast<uint32_t>(N);
}

// Model 5 keeps its registers in the -1024 block, the others in the -2048 block. Models 6 and 9
// carry the two-channel generator with their step registers and memories swapped.
constexpr AcquisitionModel kModels[] = {
    {5, -1024, -1022, -1020, -1018, 1, 1, 2, 0x3FFF, kRatesModel5, CountOf(kRatesModel5),
     false, {0, 0}, {0, 0}, {0, 0}},
    {6, -2048, -2046, -2044, -2042, 2, 2, 4, 0x3FFF, kRatesModel6, CountOf(kRatesModel6),
     true, {-2030, -2026}, {-2028, -2024}, {0x8080000, 0x8084000}},
    {7, -2048, -2046, -2044, -2042, 8, 1, 8, 0x0FFF, kRatesModel7, CountOf(kRatesModel7),
     false, {0, 0}, {0, 0}, {0, 0}},
    {8, -2048, -2046, -2044, -2042, 1, 4, 4, 0x3FFF, kRatesModel8, CountOf(kRatesModel8),
     false, {0, 0}, {0, 0}, {0, 0}},
    {9, -2048, -2046, -2044, -2042, 4, 2, 8, 0x3FFF, kRates250, CountOf(kRates250),
     true, {-2026, -2030}, {-2024, -2028}, {0x8084000, 0x8080000}},
    {10, -2048, -2046, -2044, -2042, 4, 1, 4, 0x3FFF, kRates250, CountOf(kRates250),
     false, {0, 0}, {0, 0}, {0, 0}},
};

std::vector<float> MakeNoiseTable() {
    std::vector<float> table(kNoiseTableSize + kNoiseTablePadding);
    std::mt19937_64 generator(0x05712E1ull);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<double> draws(kNoiseTableSize);
    double sum = 0.0;
    for (double &draw : draws) {
        draw = normal(generator);
        sum += draw;
    }
    // Remove the sample mean and scale to unit RMS, so that averages over whole table periods
    // are exact (calibration tests average noisy frames).
    const double mean = sum / kNoiseTableSize;
    double squares = 0.0;
    for (double &draw : draws) {
        draw -= mean;
        squares += draw * draw;
    }
    const double scale = 1.0 / std::sqrt(squares / kNoiseTableSize);
    for (uint32_t i = 0; i < kNoiseTableSize + kNoiseTablePadding; ++i) {
        table[i] = static_cast<float>(draws[i % kNoiseTableSize] * scale);
    }
    return table;
}

std::vector<double> MakeSineTable() {
    std::vector<double> table(kSineTableSize + 1);
    for (uint32_t i = 0; i <= kSineTableSize; ++i) {
        table[i] = std::sin(2.0 * std::numbers::pi * static_cast<double>(i) / kSineTableSize);
    }
    return table;
}

}  // namespace

const AcquisitionModel *AcquisitionModelOf(int modelType) {
    for (const AcquisitionModel &model : kModels) {
        if (model.modelType == modelType) return &model;
    }
    return nullptr;
}

double SampleRateHz(const AcquisitionModel &model, uint32_t dividerCode) {
    const uint32_t code = dividerCode < model.rateCount ? dividerCode : model.rateCount - 1;
    return model.ratesMsps[code] * 1e6;
}

namespace {

uint64_t FreshSeed() {
    std::random_device device;
    return (static_cast<uint64_t>(device()) << 32) ^ device();
}

std::atomic<uint64_t> g_noiseSeed{FreshSeed()};

}  // namespace

uint64_t NoiseSeed() { return g_noiseSeed.load(std::memory_order_relaxed); }

void SetNoiseSeed(uint64_t seed) { g_noiseSeed.store(seed, std::memory_order_relaxed); }

uint32_t NoiseShiftOf(uint64_t seed, uint64_t firstSample) {
    // splitmix64 of the pair: neighbouring records land far apart in the table.
    uint64_t z = seed + 0x9E3779B97F4A7C15ull * (firstSample + 1);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<uint32_t>(z & (kNoiseTableSize - 1));
}

// Never destroyed: a board thread still running while the process exits may read them.
const float *NoiseTable() {
    static const std::vector<float> *table = new std::vector<float>(MakeNoiseTable());
    return table->data();
}

const double *SineTable() {
    static const std::vector<double> *table = new std::vector<double>(MakeSineTable());
    return table->data();
}

}  // namespace ostrel::sim
