#include "platform/sim/adc_model.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ostrel::sim {

static_assert(InputStream::kBlock <= kNoiseTablePadding, "a block reads the noise table in a row");
static_assert(InputStream::kBlock % 8 == 0, "a block is whole vectors of eight");

// ---- zero errors --------------------------------------------------------------------------------

int ZeroErrorTable::DefaultCodes(int input, int coupling, int termination, int gain,
                                 int attenuation) {
    return 1 + 2 * (35 * input - 20 * coupling + 13 * termination + 27 * gain -
                    9 * attenuation - 40);
}

int ZeroErrorTable::IndexOf(int input, int coupling, int termination, int gain,
                            int attenuation) {
    if (input < 0 || input >= kInputCount || coupling < 0 || coupling >= kCouplings ||
        termination < 0 || termination >= kTerminations || gain < 0 || gain >= kGains ||
        attenuation < 0 || attenuation >= kAttenuations) {
        return -1;
    }
    return (((input * kCouplings + coupling) * kTerminations + termination) * kGains + gain) *
               kAttenuations +
           attenuation;
}

void ZeroErrorTable::Reset() {
    for (int input = 0; input < kInputCount; ++input) {
        for (int coupling = 0; coupling < kCouplings; ++coupling) {
            for (int termination = 0; termination < kTerminations; ++termination) {
                for (int gain = 0; gain < kGains; ++gain) {
                    for (int attenuation = 0; attenuation < kAttenuations; ++attenuation) {
                        codes_[static_cast<std::size_t>(
                            IndexOf(input, coupling, termination, gain, attenuation))] =
                            static_cast<int16_t>(
                                DefaultCodes(input, coupling, termination, gain, attenuation));
                    }
                }
            }
        }
    }
}

bool ZeroErrorTable::Set(int input, int coupling, int termination, int gain, int attenuation,
                         int codes) {
    const int index = IndexOf(input, coupling, termination, gain, attenuation);
    if (index < 0 || codes < -kLimitCodes || codes > kLimitCodes) return false;
    codes_[static_cast<std::size_t>(index)] = static_cast<int16_t>(codes);
    return true;
}

int ZeroErrorTable::Get(int input, const SimFrontEnd &setting) const {
    const int index = IndexOf(input, setting.coupling, setting.termination, setting.gain,
                              setting.attenuation);
    return index < 0 ? 0 : codes_[static_cast<std::size_t>(index)];
}

// ---- input streams ------------------------------------------------------------------------------

int16_t InputStream::CodeOf(double value) const {
    // Written so that NaN lands on 0 and huge values never reach an integer conversion.
    if (!(value > 0.0)) return 0;
    const double top = static_cast<double>(setting_.adcMaxCode);
    if (value >= top) return static_cast<int16_t>(setting_.adcMaxCode);
    return static_cast<int16_t>(static_cast<int32_t>(value + 0.5));
}

void InputStream::Configure(const Setting &setting) {
    if (configured_ && setting == setting_) return;
    setting_ = setting;
    configured_ = true;

    const InputSignal &signal = setting.signal;
    const double base = MidScaleCode(setting.adcMaxCode) + setting.zeroError + signal.dcCodes;
    const bool noisy = signal.noiseCodes != 0.0;

    // Sine cycles per sample, folded into [0, 1): the samples of f and of f + k x rate are equal.
    double cyclesPerSample = 0.0;
    if (signal.amplitudeCodes != 0.0 && setting.sampleRateHz > 0.0) {
        cyclesPerSample = signal.frequencyHz / setting.sampleRateHz;
        cyclesPerSample -= std::floor(cyclesPerSample);
        if (!(cyclesPerSample >= 0.0 && cyclesPerSample < 1.0)) cyclesPerSample = 0.0;
    }
    const bool sine = cyclesPerSample > 0.0;

    uint64_t sinePeriods = 0;
    streaming_ = false;
    playedFrequencyHz_ = 0.0;
    if (!sine) {
        cycle_ = 1;
    } else {
        const double period = 1.0 / cyclesPerSample;
        if (period <= static_cast<double>(kMaxCycle)) {
            sinePeriods = std::max<uint64_t>(
                1, static_cast<uint64_t>(std::llround(static_cast<double>(kTargetCycle) / period)));
            cycle_ = std::max<uint64_t>(
                1, static_cast<uint64_t>(std::llround(static_cast<double>(sinePeriods) * period)));
            playedFrequencyHz_ =
                (std::floor(signal.frequencyHz / setting.sampleRateHz) +
                 static_cast<double>(sinePeriods) / static_cast<double>(cycle_)) *
                setting.sampleRateHz;
        } else {
            streaming_ = true;
            phaseStep_ = static_cast<uint64_t>(std::ldexp(cyclesPerSample, 64));
            playedFrequencyHz_ = signal.frequencyHz;
        }
    }

    if (streaming_) {
        codes_.clear();
        codes_.shrink_to_fit();
        values_.clear();
        values_.shrink_to_fit();
        scratch_.resize(kSegmentSamples);
        const double step = 2.0 * std::numbers::pi * cyclesPerSample;
        for (uint32_t i = 0; i < kBlock; ++i) {
            rotationCos_[i] = static_cast<float>(std::cos(step * i));
            rotationSin_[i] = static_cast<float>(std::sin(step * i));
        }
        return;
    }
    const double step = sine ? 2.0 * std::numbers::pi * static_cast<double>(sinePeriods) /
                                   static_cast<double>(cycle_)
                             : 0.0;
    auto valueAt = [&](uint64_t i) {
        double value = base;
        if (sine) value += signal.amplitudeCodes * std::sin(step * static_cast<double>(i));
        return value;
    };
    if (noisy) {
        codes_.clear();
        codes_.shrink_to_fit();
        // A block past the segment on both, so that the last block of a segment is whole.
        scratch_.resize(kSegmentSamples + kBlock);
        values_.resize(cycle_ + kSegmentSamples + kBlock);
        for (uint64_t i = 0; i < cycle_; ++i) values_[i] = static_cast<float>(valueAt(i));
        for (uint64_t i = cycle_; i < values_.size(); ++i) values_[i] = values_[i % cycle_];
        return;
    }
    scratch_.clear();
    values_.clear();
    values_.shrink_to_fit();
    codes_.resize(cycle_ + kSegmentSamples);
    for (uint64_t i = 0; i < cycle_; ++i) codes_[i] = CodeOf(valueAt(i));
    for (uint64_t i = cycle_; i < codes_.size(); ++i) codes_[i] = codes_[i % cycle_];
}

const int16_t *InputStream::Codes(uint64_t first, uint32_t count, uint32_t noiseShift) {
    const InputSignal &signal = setting_.signal;
    const float *noise = NoiseTable();
    const uint64_t noiseStart = first + setting_.noiseOffset + noiseShift;
    if (!streaming_) {
        if (values_.empty()) return codes_.data() + first % cycle_;
        // Noisy: the precomputed values plus the noise. Always whole blocks (a fixed trip count
        // without branches, which the compiler vectorises even at -O2; a run-time count is left
        // scalar): the noise table continues past its end by a block, and the values and the
        // output have a block of room past the segment, whose codes nobody reads.
        const float *values = values_.data() + first % cycle_;
        const float noiseScale = static_cast<float>(signal.noiseCodes);
        const float topValue = static_cast<float>(setting_.adcMaxCode);
        int16_t *out = scratch_.data();
        for (uint32_t done = 0; done < count; done += kBlock) {
            const float *__restrict blockNoise =
                noise + ((noiseStart + done) & (kNoiseTableSize - 1));
            const float *__restrict blockValues = values + done;
            int16_t *__restrict blockOut = out + done;
#if defined(__SSE2__)
            // The same steps four at a time, narrowed with one saturating pack (exact: the codes
            // lie in 0..adcMaxCode) where the compiler's plain narrowing takes five shuffles.
            // max(value, 0) and min(value, top) are the selects below, NaN included.
            const __m128 scale = _mm_set1_ps(noiseScale);
            const __m128 zero = _mm_setzero_ps();
            const __m128 top = _mm_set1_ps(topValue);
            const __m128 half = _mm_set1_ps(0.5f);
            for (uint32_t i = 0; i < kBlock; i += 8) {
                __m128 low = _mm_add_ps(_mm_loadu_ps(blockValues + i),
                                        _mm_mul_ps(scale, _mm_loadu_ps(blockNoise + i)));
                __m128 high = _mm_add_ps(_mm_loadu_ps(blockValues + i + 4),
                                         _mm_mul_ps(scale, _mm_loadu_ps(blockNoise + i + 4)));
                low = _mm_add_ps(_mm_min_ps(_mm_max_ps(low, zero), top), half);
                high = _mm_add_ps(_mm_min_ps(_mm_max_ps(high, zero), top), half);
                _mm_storeu_si128(reinterpret_cast<__m128i *>(blockOut + i),
                                 _mm_packs_epi32(_mm_cvttps_epi32(low), _mm_cvttps_epi32(high)));
            }
#else
            for (uint32_t i = 0; i < kBlock; ++i) {
                float value = blockValues[i] + noiseScale * blockNoise[i];
                value = value > 0.0f ? value : 0.0f;
                value = value < topValue ? value : topValue;
                blockOut[i] = static_cast<int16_t>(static_cast<int32_t>(value + 0.5f));
            }
#endif
        }
        return out;
    }

    const double base = MidScaleCode(setting_.adcMaxCode) + setting_.zeroError + signal.dcCodes;
    const double amplitude = signal.amplitudeCodes;
    const double noiseCodes = signal.noiseCodes;
    const double top = static_cast<double>(setting_.adcMaxCode);
    const double *sine = SineTable();
    constexpr int kFractionBits = 20;
    constexpr double kFractionScale = 1.0 / static_cast<double>(1u << kFractionBits);
    constexpr uint64_t kQuarterCycle = uint64_t{1} << 62;
    // Sine of a 64-bit phase (in cycles x 2^64), interpolated in the table.
    auto sineOf = [&](uint64_t phase) {
        const uint32_t index = static_cast<uint32_t>(phase >> (64 - kSineTableBits));
        const double fraction =
            static_cast<double>((phase >> (64 - kSineTableBits - kFractionBits)) &
                                ((1u << kFractionBits) - 1)) *
            kFractionScale;
        return sine[index] + (sine[index + 1] - sine[index]) * fraction;
    };
    int16_t *out = scratch_.data();
    const float baseValue = static_cast<float>(base);
    const float noiseScale = static_cast<float>(noiseCodes);
    const float topValue = static_cast<float>(top);
    for (uint32_t done = 0; done < count;) {
        const uint64_t sample = first + done;
        const uint64_t phase = sample * phaseStep_;  // wraps modulo one cycle, exactly
        const float startSin = static_cast<float>(amplitude * sineOf(phase));
        const float startCos = static_cast<float>(amplitude * sineOf(phase + kQuarterCycle));
        // The noise table continues past its end by a block, so the block reads it in a row.
        const float *blockNoise = noise + ((noiseStart + done) & (kNoiseTableSize - 1));
        // Always a whole block (a fixed trip count the compiler vectorises); the tail of the
        // last one is not copied out.
        int16_t codes[kBlock];
        for (uint32_t i = 0; i < kBlock; ++i) {
            float value = baseValue + startSin * rotationCos_[i] + startCos * rotationSin_[i] +
                          noiseScale * blockNoise[i];
            value = value > 0.0f ? value : 0.0f;
            value = value < topValue ? value : topValue;
            codes[i] = static_cast<int16_t>(static_cast<int32_t>(value + 0.5f));
        }
        const uint32_t block = std::min(kBlock, count - done);
        std::memcpy(out + done, codes, block * sizeof(int16_t));
        done += block;
    }
    return out;
}

// ---- interleaving -------------------------------------------------------------------------------

namespace {

// One kernel per lane count with restrict-qualified pointers, size_t indices (a 32-bit index
// times the lane count may wrap, which hides that the stores are consecutive) and blocks of a
// fixed count: the compiler vectorises these even at -O2, while a loop over a run-time lane
// count is left scalar.
constexpr std::size_t kInterleaveBlock = 64;

void InterleaveTwo(int16_t *__restrict dst, const int16_t *__restrict lane0,
                   const int16_t *__restrict lane1, std::size_t count) {
    std::size_t i = 0;
    for (; i + kInterleaveBlock <= count; i += kInterleaveBlock) {
        int16_t *__restrict out = dst + 2 * i;
        const int16_t *__restrict in0 = lane0 + i;
        const int16_t *__restrict in1 = lane1 + i;
        for (std::size_t j = 0; j < kInterleaveBlock; ++j) {
            out[2 * j] = in0[j];
            out[2 * j + 1] = in1[j];
        }
    }
    for (; i < count; ++i) {
        dst[2 * i] = lane0[i];
        dst[2 * i + 1] = lane1[i];
    }
}

void InterleaveFour(int16_t *__restrict dst, const int16_t *__restrict lane0,
                    const int16_t *__restrict lane1, const int16_t *__restrict lane2,
                    const int16_t *__restrict lane3, std::size_t count) {
    std::size_t i = 0;
    for (; i + kInterleaveBlock <= count; i += kInterleaveBlock) {
        int16_t *__restrict out = dst + 4 * i;
        const int16_t *__restrict in0 = lane0 + i;
        const int16_t *__restrict in1 = lane1 + i;
        const int16_t *__restrict in2 = lane2 + i;
        const int16_t *__restrict in3 = lane3 + i;
        for (std::size_t j = 0; j < kInterleaveBlock; ++j) {
            out[4 * j] = in0[j];
            out[4 * j + 1] = in1[j];
            out[4 * j + 2] = in2[j];
            out[4 * j + 3] = in3[j];
        }
    }
    for (; i < count; ++i) {
        dst[4 * i] = lane0[i];
        dst[4 * i + 1] = lane1[i];
        dst[4 * i + 2] = lane2[i];
        dst[4 * i + 3] = lane3[i];
    }
}

}  // namespace

void InterleaveLanes(int16_t *dst, const int16_t *const *lanes, uint32_t laneCount,
                     uint32_t count) {
    switch (laneCount) {
    case 1:
        std::memcpy(dst, lanes[0], static_cast<std::size_t>(count) * sizeof(int16_t));
        return;
    case 2:
        InterleaveTwo(dst, lanes[0], lanes[1], count);
        return;
    case 4:
        InterleaveFour(dst, lanes[0], lanes[1], lanes[2], lanes[3], count);
        return;
    default:
        for (uint32_t i = 0; i < count; ++i) {
            for (uint32_t lane = 0; lane < laneCount; ++lane) {
                dst[static_cast<std::size_t>(i) * laneCount + lane] = lanes[lane][i];
            }
        }
        return;
    }
}

}  // namespace ostrel::sim
