#include "acquisition/frame_readout.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "OstrelDAQEngine.h"
#include "engine/engine_state.h"
#include "engine/test_seams.h"

namespace ostrel {

// The kernels are compiled at -O3 (see engine/CMakeLists.txt). With restrict-qualified pointers
// and a lane count known at compile time the compiler turns the de-interleave into vector shuffles;
// a run-time lane loop over an array of output pointers is not vectorised and runs at a fraction
// of memcpy speed.

void SplitOneLane(const int16_t *__restrict source, size_t pointsPerLane, int16_t offset0,
                  int16_t *__restrict lane0) {
    for (size_t i = 0; i < pointsPerLane; ++i) {
        lane0[i] = static_cast<int16_t>(source[i] - offset0);
    }
}

void SplitTwoLanes(const int16_t *__restrict source, size_t pointsPerLane, int16_t offset0,
                   int16_t offset1, int16_t *__restrict lane0, int16_t *__restrict lane1) {
    for (size_t i = 0; i < pointsPerLane; ++i) {
        lane0[i] = static_cast<int16_t>(source[2 * i] - offset0);
        lane1[i] = static_cast<int16_t>(source[2 * i + 1] - offset1);
    }
}

void SplitFourLanes(const int16_t *__restrict source, size_t pointsPerLane,
                    const int16_t offsets[4], int16_t *__restrict lane0,
                    int16_t *__restrict lane1, int16_t *__restrict lane2,
                    int16_t *__restrict lane3) {
    const int16_t offset0 = offsets[0], offset1 = offsets[1];
    const int16_t offset2 = offsets[2], offset3 = offsets[3];
    size_t i = 0;
#if defined(__SSE2__)
    // The compiler's own shuffle network for a four-way split is more than twice this one: a
    // 4 x 8 transpose in three rounds of unpacks (SSE2 is part of every x86-64 processor).
    const __m128i subtract0 = _mm_set1_epi16(offset0), subtract1 = _mm_set1_epi16(offset1);
    const __m128i subtract2 = _mm_set1_epi16(offset2), subtract3 = _mm_set1_epi16(offset3);
    for (; i + 8 <= pointsPerLane; i += 8) {
        const __m128i *in = reinterpret_cast<const __m128i *>(source + 4 * i);
        const __m128i v0 = _mm_loadu_si128(in), v1 = _mm_loadu_si128(in + 1);
        const __m128i v2 = _mm_loadu_si128(in + 2), v3 = _mm_loadu_si128(in + 3);
        // a0 a2 b0 b2 c0 c2 d0 d2 | a1 a3 b1 b3 c1 c3 d1 d3 | the same for points 4..7
        const __m128i t0 = _mm_unpacklo_epi16(v0, v1), t1 = _mm_unpackhi_epi16(v0, v1);
        const __m128i t2 = _mm_unpacklo_epi16(v2, v3), t3 = _mm_unpackhi_epi16(v2, v3);
        // a0..a3 b0..b3 | c0..c3 d0..d3 | a4..a7 b4..b7 | c4..c7 d4..d7
        const __m128i u0 = _mm_unpacklo_epi16(t0, t1), u1 = _mm_unpackhi_epi16(t0, t1);
        const __m128i u2 = _mm_unpacklo_epi16(t2, t3), u3 = _mm_unpackhi_epi16(t2, t3);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(lane0 + i),
                         _mm_sub_epi16(_mm_unpacklo_epi64(u0, u2), subtract0));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(lane1 + i),
                         _mm_sub_epi16(_mm_unpackhi_epi64(u0, u2), subtract1));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(lane2 + i),
                         _mm_sub_epi16(_mm_unpacklo_epi64(u1, u3), subtract2));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(lane3 + i),
                         _mm_sub_epi16(_mm_unpackhi_epi64(u1, u3), subtract3));
    }
#endif
    for (; i < pointsPerLane; ++i) {
        lane0[i] = static_cast<int16_t>(source[4 * i] - offset0);
        lane1[i] = static_cast<int16_t>(source[4 * i + 1] - offset1);
        lane2[i] = static_cast<int16_t>(source[4 * i + 2] - offset2);
        lane3[i] = static_cast<int16_t>(source[4 * i + 3] - offset3);
    }
}

void SplitFrame(const int16_t *source, size_t pointsPerLane, uint32_t lanes, int16_t *lane0,
                int16_t *lane1, int16_t *lane2, int16_t *lane3) {
    const int16_t *offsets = g_engine.calibration.ChannelOffsets;
    switch (lanes) {
        case 1:
            SplitOneLane(source, pointsPerLane, offsets[kSingleLaneOffset], lane0);
            break;
        case 2:
            SplitTwoLanes(source, pointsPerLane, offsets[kLaneOffset0], offsets[kLaneOffset0 + 1],
                          lane0, lane1);
            break;
        default:
            SplitFourLanes(source, pointsPerLane, offsets + kLaneOffset0, lane0, lane1, lane2,
                           lane3);
            break;
    }
}

bool LanesPresent(const int16_t *lane0, const int16_t *lane1, const int16_t *lane2,
                  const int16_t *lane3) {
    const uint32_t lanes = g_engine.model.ADCNumber;
    if (lanes >= 1 && lane0 == nullptr) return false;
    if (lanes >= 2 && lane1 == nullptr) return false;
    if (lanes >= 4 && (lane2 == nullptr || lane3 == nullptr)) return false;
    return true;
}

namespace {

// Announces the ring frame of the latest complete frame to the acquisition thread and returns its
// first record. If the thread moves on between the look and the announcement, the newer frame is
// taken instead (a few times at most; the frame held is then still whole, only not the newest).
uint32_t HoldLatestFrame(AcquisitionState &acquisition) {
    RingStatus &ring = acquisition.Ring;
    const uint32_t recordsPerFrame = acquisition.RecordsPerFrame;
    uint32_t start = ring.LatestFrameStart.load(std::memory_order_acquire);
    for (int attempt = 0;; ++attempt) {
        const uint32_t frame = std::min<uint32_t>(start / recordsPerFrame, kRingFrames - 1);
        ring.Guard.BeginReading(static_cast<int32_t>(frame));
        const uint32_t now = ring.LatestFrameStart.load(std::memory_order_acquire);
        if (now / recordsPerFrame == frame || attempt == 3) return frame * recordsPerFrame;
        ring.Guard.EndReading();
        start = now;
    }
}

}  // namespace

int32_t ReadLatestFrame(int16_t *lane0, int16_t *lane1, int16_t *lane2, int16_t *lane3,
                        bool *whole) {
    AcquisitionState &acquisition = g_engine.acquisition;
    const uint32_t lanes = g_engine.model.ADCNumber;
    if (!LanesPresent(lane0, lane1, lane2, lane3)) return DAQ_ERROR;
    // A stream takes the frames; the ring is not filled while it runs.
    if (!acquisition.ThreadStopped.load(std::memory_order_acquire) &&
        acquisition.Run.Stream != nullptr) {
        return DAQ_ERROR;
    }

    if (whole != nullptr) *whole = false;
    acquisition.Ring.NewFrameAvailable.store(false, std::memory_order_relaxed);
    if (!acquisition.HostBuffersAllocated || acquisition.RecordsPerFrame == 0) return 0;
    if (lanes != 1 && lanes != 2 && lanes != 4) return 0;

    // Only the first RecordNumber records of the frame are returned (the frame may have been
    // raised to more); never more than one frame.
    const uint64_t frameSamples =
        static_cast<uint64_t>(acquisition.RecordPoints) * acquisition.RecordsPerFrame;
    const uint64_t samples = std::min<uint64_t>(
        static_cast<uint64_t>(acquisition.RecordPoints) * acquisition.RecordNumber, frameSamples);
    if (samples == 0) return 0;

    const uint32_t firstRecord = HoldLatestFrame(acquisition);
    // Whole or not is decided as the frame is taken: from here to the end of the copy no record
    // enters it. The thread may recycle it meanwhile (a slow copy on a busy machine), but that
    // clears only its bookkeeping, never the samples being copied.
    const uint32_t heldFrame = firstRecord / acquisition.RecordsPerFrame;
    const RingStatus &ring = acquisition.Ring;
    const bool heldWhole = ring.FrameRecords[heldFrame].load(std::memory_order_acquire) >=
                           static_cast<int32_t>(acquisition.RecordsPerFrame);
    LatestFrameInfo &info = acquisition.LatestInfo;
    info.Known = true;
    info.Sequence = ring.FrameSequence[heldFrame].load(std::memory_order_relaxed);
    info.RecordsExpected = static_cast<uint32_t>(samples / acquisition.RecordPoints);
    info.RecordsValid = std::min<uint32_t>(
        static_cast<uint32_t>(std::max(ring.FrameValid[heldFrame].load(std::memory_order_relaxed), 0)),
        info.RecordsExpected);
    info.CompletedTicks = ring.FrameCompletedTicks[heldFrame].load(std::memory_order_relaxed);
    info.SamplePeriodSeconds = acquisition.Run.SamplePeriodSeconds;
    if (Seams().whileFrameHeld != nullptr) Seams().whileFrameHeld(static_cast<int32_t>(heldFrame));
    const int16_t *source =
        acquisition.FrameRing.get() + static_cast<size_t>(firstRecord) * acquisition.RecordPoints;
    SplitFrame(source, static_cast<size_t>(samples / lanes), lanes, lane0, lane1, lane2, lane3);
    if (whole != nullptr) *whole = heldWhole;
    acquisition.Ring.Guard.EndReading();
    return 0;
}

bool NewFrameAnnounced() {
    return g_engine.acquisition.Ring.NewFrameAvailable.load(std::memory_order_acquire);
}

}  // namespace ostrel

extern "C" {

OSTREL_API int32_t DAQ_GetLatestFrame(int16_t *lane0, int16_t *lane1, int16_t *lane2,
                                      int16_t *lane3) noexcept {
    return ostrel::ReadLatestFrame(lane0, lane1, lane2, lane3);
}

}  // extern "C"
