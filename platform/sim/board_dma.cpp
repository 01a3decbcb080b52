// The acquisition side of a simulated board (see board_dma_impl.h for the threads and locks).
//
// Record sequence. The board acquires records back to back: record k starts at ADC sample index
// nextSample_ and takes recordLength samples per lane; its tag is nextTag_, which counts from 0
// after a dispatcher reset and wraps at the value of the board's RegRecordNumber register. The
// active descriptor takes records into its slots in order. A record skipped with SIM_SkipRecords
// consumes its tag and its time but no slot. Under REALTIME pacing records become available at
// the sampling rate (a steady clock mapped onto sample indices); those that complete while no
// descriptor is queued are lost: their tags are consumed at the next descriptor's start. Lateness
// of the board's own thread is never turned into loss: when it wakes late it produces at most
// kMaxLag of backlog and lets its clock slip by the rest, so only a queue that really stood empty
// loses records.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>

#if defined(__linux__)
#include <pthread.h>
#endif

#include "platform/sim/board_dma_impl.h"

namespace ostrel::sim {

namespace {

constexpr auto kMaxLag = std::chrono::milliseconds(1);
constexpr auto kRealtimeWaitMin = std::chrono::microseconds(100);
constexpr auto kRealtimeWaitMax = std::chrono::milliseconds(1);
constexpr auto kStalledWait = std::chrono::milliseconds(5);
constexpr auto kIdleWait = std::chrono::milliseconds(50);
constexpr auto kIdleExit = std::chrono::milliseconds(1000);
// Waveform memories are re-read on every notified write; this bounds staleness for writes that
// arrive without a notification.
constexpr auto kWaveformRefresh = std::chrono::milliseconds(50);
constexpr uint64_t kUnlimited = std::numeric_limits<uint64_t>::max();

uint64_t NoiseOffsetOf(int input) { return static_cast<uint64_t>(input) * 16411u + 7u; }

bool Overlaps(uint64_t offset, int width, uint64_t first, uint64_t bytes) {
    return offset < first + bytes && first < offset + static_cast<uint64_t>(width);
}

// The tag goes last, with release semantics, so that a reader that sees it with an acquire load
// also sees the record's samples. A tag that is not 4-byte aligned (odd record lengths on model
// 5) is stored in parts, upper first, the lowest part last with release semantics.
void StoreTag(uint8_t *trailer, uint32_t tag) {
    const auto address = reinterpret_cast<std::uintptr_t>(trailer);
    if (address % alignof(uint32_t) == 0) {
        std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t *>(trailer))
            .store(tag, std::memory_order_release);
    } else if (address % alignof(uint16_t) == 0) {
        std::atomic_ref<uint16_t>(*reinterpret_cast<uint16_t *>(trailer + 2))
            .store(static_cast<uint16_t>(tag >> 16), std::memory_order_relaxed);
        std::atomic_ref<uint16_t>(*reinterpret_cast<uint16_t *>(trailer))
            .store(static_cast<uint16_t>(tag & 0xFFFFu), std::memory_order_release);
    } else {
        for (int byte = 3; byte >= 0; --byte) {
            std::atomic_ref<uint8_t>(trailer[byte])
                .store(static_cast<uint8_t>(tag >> (8 * byte)),
                       byte == 0 ? std::memory_order_release : std::memory_order_relaxed);
        }
    }
}

}  // namespace

// ---- life -----------------------------------------------------------------------------------------

BoardDma::Impl::Impl(BoardPort &port)
    : port_(port), model_(AcquisitionModelOf(port.ModelType())) {
    originTime_ = Clock::now();
    lastOutputMask_ = port_.ControlRegister(kOutputMaskRegister);
    RegisterBoardDma(this);
}

BoardDma::Impl::~Impl() {
    UnregisterBoardDma(this);
    std::unique_lock<std::mutex> lock(registerMutex_);
    destroying_ = true;
    stopThread_ = true;
    dispatcher_.DropQueue();
    wake_.notify_all();
    // The thread sees the stop within one bounded wait or at the end of the batch it writes.
    threadExited_.wait(lock, [this] { return !threadRunning_; });
}

bool BoardDma::Impl::ThreadRunning() const {
    std::lock_guard<std::mutex> lock(registerMutex_);
    return threadRunning_;
}

// ---- BAR 2 ----------------------------------------------------------------------------------------

uint32_t BoardDma::Impl::ReadBar2(uint64_t offset, int width) {
    // The engine polls the status in a tight loop: one atomic load, no lock.
    if (offset == kDmaStatusOffset && width == 4) return dispatcher_.Status();
    std::lock_guard<std::mutex> lock(registerMutex_);
    return dispatcher_.Read(offset, width);
}

void BoardDma::Impl::WriteBar2(uint64_t offset, int width, uint32_t value) {
    // A write that reaches the top byte of the descriptor control register may queue a
    // descriptor; look up the pacing and the stall fault before taking the lock.
    const bool mayQueue = Overlaps(offset, width, kDescControlOffset + 3, 1);
    const int pacing = DmaPacing();
    const bool stalled = mayQueue && DmaStallRequested();
    bool produceNow = false;
    bool needThread = false;
    {
        std::lock_guard<std::mutex> lock(registerMutex_);
        const DmaDispatcher::WriteResult result = dispatcher_.Write(offset, width, value);
        const Clock::time_point now = Clock::now();
        if (result.reset) {
            OnResetLocked(now);
            stopThread_ = true;  // nothing queued any more: the board's thread ends
        }
        if (result.queued) {
            if (result.startedFromIdle) OnStartFromIdleLocked(now, pacing);
            if (pacing == SIM_DMA_IMMEDIATE && !stalled && !producing_) {
                producing_ = true;
                produceNow = true;
            } else {
                needThread = true;
            }
        }
    }
    if (produceNow) DrainNow();
    if (needThread) EnsureThread();
    wake_.notify_all();
}

void BoardDma::Impl::BufferUnlocking() {
    {
        // The production lock waits for a write in progress. Bumping the generation together
        // with dropping the queue means every batch is either planned before (and finds the
        // generation changed when it comes to write) or finds nothing to plan.
        std::lock_guard<std::mutex> production(productionMutex_);
        std::lock_guard<std::mutex> lock(registerMutex_);
        ++bufferGeneration_;
        dispatcher_.DropQueue();
        stopThread_ = true;
    }
    // Not joined here: the bus side may call this with its own locks held, and the thread exits
    // by itself within one bounded wait.
    wake_.notify_all();
}

void BoardDma::Impl::Bar0Written(uint64_t offset, int width) {
    if (width <= 0) return;
    WaveformWindowWritten(offset, width);
    const uint64_t maskOffset =
        kControlRegisterOrigin - 2u * static_cast<uint64_t>(-kOutputMaskRegister);
    if (!Overlaps(offset, width, maskOffset, 4)) return;
    const uint32_t mask = port_.ControlRegister(kOutputMaskRegister);
    const int pacing = DmaPacing();
    std::lock_guard<std::mutex> lock(registerMutex_);
    const uint32_t released = lastOutputMask_ & ~mask;
    lastOutputMask_ = mask;
    if (released == 0) return;
    const uint64_t now = CurrentSampleLocked(Clock::now(), pacing);
    for (int channel = 0; channel < kGeneratorChannels; ++channel) {
        if ((released >> channel) & 1u) phaseOrigin_[static_cast<size_t>(channel)] = now;
    }
}

// ---- scenario controls ------------------------------------------------------------------------------

int BoardDma::Impl::SetInputSignal(int input, const InputSignal &signal) {
    const int inputs = model_ != nullptr && model_->lanes > 1 ? static_cast<int>(model_->lanes)
                                                               : kInputCount;
    if (input < 0 || input >= inputs) return -1;
    if (!std::isfinite(signal.dcCodes) || !std::isfinite(signal.amplitudeCodes) ||
        !std::isfinite(signal.frequencyHz) || !std::isfinite(signal.noiseCodes) ||
        signal.noiseCodes < 0.0) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(settingsMutex_);
    signals_[static_cast<size_t>(input)] = signal;
    return 0;
}

int BoardDma::Impl::SetZeroError(int input, int coupling, int termination, int gain,
                                 int attenuation, int codes) {
    const int inputs = model_ != nullptr && model_->lanes > 1 ? static_cast<int>(model_->lanes)
                                                               : kInputCount;
    if (input < 0 || input >= inputs) return -1;
    std::lock_guard<std::mutex> lock(settingsMutex_);
    return zeroErrors_.Set(input, coupling, termination, gain, attenuation, codes) ? 0 : -1;
}

int BoardDma::Impl::ZeroError(int input, const SimFrontEnd &setting) const {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    return zeroErrors_.Get(input, setting);
}

int BoardDma::Impl::SkipRecords(int count) {
    if (count < 0) return -1;
    std::lock_guard<std::mutex> lock(registerMutex_);
    skipRemaining_ += static_cast<uint64_t>(count);
    return 0;
}

int BoardDma::Impl::SetLoopback(bool enabled) {
    if (model_ == nullptr || !model_->hasGenerator) return -1;
    std::lock_guard<std::mutex> lock(settingsMutex_);
    loopback_ = enabled;
    return 0;
}

void BoardDma::Impl::ResetSettings() {
    {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        signals_ = {};
        zeroErrors_.Reset();
        loopback_ = false;
    }
    {
        std::lock_guard<std::mutex> lock(registerMutex_);
        skipRemaining_ = 0;
    }
    descriptorsCompleted_.store(0);
    recordsWritten_.store(0);
    recordsLost_.store(0);
    recordsSkipped_.store(0);
    droppedWrites_.store(0);
    clockSlipNs_.store(0);
}

void BoardDma::Impl::PacingChanged() {
    bool needThread = false;
    {
        std::lock_guard<std::mutex> lock(registerMutex_);
        needThread = dispatcher_.HasActive() && !threadRunning_ && !producing_;
    }
    if (needThread) EnsureThread();
    wake_.notify_all();
}

BoardDma::Impl::Counters BoardDma::Impl::GetCounters() const {
    Counters counters;
    counters.descriptorsCompleted = descriptorsCompleted_.load();
    counters.recordsWritten = recordsWritten_.load();
    counters.recordsLost = recordsLost_.load();
    counters.recordsSkipped = recordsSkipped_.load();
    counters.droppedWrites = droppedWrites_.load();
    std::lock_guard<std::mutex> lock(registerMutex_);
    counters.ignoredGoWrites = dispatcher_.IgnoredGoWrites();
    return counters;
}

// ---- sample clock (registerMutex_ held) ----------------------------------------------------------

double BoardDma::Impl::ClockRateLocked() const {
    if (model_ == nullptr) return 0.0;
    return SampleRateHz(*model_, port_.ControlRegister(model_->clockDividerRegister));
}

uint64_t BoardDma::Impl::SamplesAtLocked(Clock::time_point now) const {
    if (now <= originTime_ || clockRateHz_ <= 0.0) return originSample_;
    const double elapsed = std::chrono::duration<double>(now - originTime_).count();
    return originSample_ + static_cast<uint64_t>(elapsed * clockRateHz_);
}

void BoardDma::Impl::ReoriginLocked(Clock::time_point now, uint64_t sample) {
    originTime_ = now;
    originSample_ = sample;
    // Idle time does not count on the board's clock: an output released while the board idled
    // has been playing since before the clock resumes, not from a sample still to come.
    for (uint64_t &origin : phaseOrigin_) origin = std::min(origin, sample);
}

void BoardDma::Impl::SlipLocked(Clock::time_point now, uint64_t sample) {
    const uint64_t samplesNow = SamplesAtLocked(now);
    if (samplesNow > sample && clockRateHz_ > 0.0) {
        clockSlipNs_.fetch_add(
            static_cast<uint64_t>(static_cast<double>(samplesNow - sample) * 1e9 / clockRateHz_),
            std::memory_order_relaxed);
    }
    ReoriginLocked(now, sample);
}

void BoardDma::Impl::SyncClockLocked(Clock::time_point now, int pacing) {
    if (pacing != SIM_DMA_REALTIME) {
        clockPacing_ = pacing;
        return;
    }
    if (clockPacing_ != SIM_DMA_REALTIME) {
        // Coming from another pacing: the board's clock starts now where its samples stand.
        clockPacing_ = pacing;
        clockRateHz_ = ClockRateLocked();
        ReoriginLocked(now, nextSample_);
        return;
    }
    const double rate = ClockRateLocked();
    if (rate != clockRateHz_) {
        ReoriginLocked(now, std::max(SamplesAtLocked(now), nextSample_));
        clockRateHz_ = rate;
    }
}

uint64_t BoardDma::Impl::CurrentSampleLocked(Clock::time_point now, int pacing) {
    if (pacing != SIM_DMA_REALTIME) return nextSample_;
    SyncClockLocked(now, pacing);
    return std::max(SamplesAtLocked(now), nextSample_);
}

// ---- record sequence (registerMutex_ held) ---------------------------------------------------------

void BoardDma::Impl::EnsureProgressLocked() {
    if (!dispatcher_.HasActive() || progress_.serial == dispatcher_.ActiveSerial()) return;
    progress_ = Progress{};
    progress_.serial = dispatcher_.ActiveSerial();
    if (model_ == nullptr) return;
    RecordGeometry &geometry = progress_.geometry;
    geometry.recordLength = static_cast<uint64_t>(port_.ControlRegister(model_->recordLengthRegister)) *
                            model_->recordLengthFactor;
    geometry.lanes = model_->lanes;
    geometry.recordPoints = geometry.recordLength * geometry.lanes;
    geometry.trailerPoints = model_->trailerPoints;
    geometry.slotBytes = 2 * (geometry.recordPoints + geometry.trailerPoints);
    // A descriptor never writes past its own length.
    const uint64_t fitting = dispatcher_.Active().length / geometry.slotBytes;
    const uint64_t inMemory = port_.ControlRegister(model_->recordsInMemoryRegister);
    geometry.slots = static_cast<uint32_t>(std::min(fitting, inMemory));
}

void BoardDma::Impl::AdvanceRecordsLocked(uint64_t count) {
    if (count == 0) return;
    const uint32_t wrap =
        model_ == nullptr ? 0u : port_.ControlRegister(model_->recordNumberRegister);
    if (wrap == 0) {
        nextTag_ = static_cast<uint32_t>(nextTag_ + count);
    } else {
        nextTag_ = static_cast<uint32_t>((nextTag_ % wrap + count % wrap) % wrap);
    }
    nextSample_ += count * progress_.geometry.recordLength;
}

uint64_t BoardDma::Impl::ReadyRecordsLocked(Clock::time_point now, int pacing) {
    if (pacing != SIM_DMA_REALTIME) return kUnlimited;
    SyncClockLocked(now, pacing);
    const uint64_t recordSamples = std::max<uint64_t>(1, progress_.geometry.recordLength);
    uint64_t samplesNow = SamplesAtLocked(now);
    const uint64_t lagSamples = static_cast<uint64_t>(
        std::chrono::duration<double>(kMaxLag).count() * clockRateHz_);
    const uint64_t latest = nextSample_ + recordSamples + lagSamples;
    if (samplesNow > latest) {
        // Woken late: produce at most kMaxLag of backlog and let the clock slip.
        SlipLocked(now, latest);
        samplesNow = latest;
    }
    return samplesNow > nextSample_ ? (samplesNow - nextSample_) / recordSamples : 0;
}

bool BoardDma::Impl::PlanBatchLocked(uint64_t readyRecords, Batch &batch) {
    batch.records.clear();
    if (!dispatcher_.HasActive()) return false;
    EnsureProgressLocked();
    const RecordGeometry &geometry = progress_.geometry;
    batch.serial = progress_.serial;
    batch.generation = bufferGeneration_;
    batch.hostAddress = dispatcher_.Active().hostAddress;
    batch.geometry = geometry;
    batch.sampleRateHz = ClockRateLocked();
    batch.phaseOrigin = phaseOrigin_;
    const uint32_t wrap =
        model_ == nullptr ? 0u : port_.ControlRegister(model_->recordNumberRegister);
    while (progress_.slotsPlanned < geometry.slots && readyRecords > 0) {
        if (skipRemaining_ > 0) {
            const uint64_t skipped = std::min(skipRemaining_, readyRecords);
            AdvanceRecordsLocked(skipped);
            skipRemaining_ -= skipped;
            readyRecords -= skipped;
            recordsSkipped_.fetch_add(skipped, std::memory_order_relaxed);
            continue;
        }
        batch.records.push_back({progress_.slotsPlanned, nextTag_, nextSample_});
        ++progress_.slotsPlanned;
        --readyRecords;
        nextTag_ = wrap == 0 ? nextTag_ + 1 : static_cast<uint32_t>((nextTag_ % wrap + 1) % wrap);
        nextSample_ += geometry.recordLength;
    }
    batch.completes = progress_.slotsPlanned >= geometry.slots;
    return true;
}

void BoardDma::Impl::FinishBatchLocked(const Batch &batch, int pacing) {
    if (!batch.completes || !dispatcher_.HasActive() ||
        dispatcher_.ActiveSerial() != batch.serial) {
        return;  // reset or dropped meanwhile, or more records to come
    }
    dispatcher_.CompleteActive();
    descriptorsCompleted_.fetch_add(1, std::memory_order_relaxed);
    if (!dispatcher_.HasActive() && pacing == SIM_DMA_REALTIME) {
        // The queue ran dry: the board idles from now on, not from when a late thread would
        // have completed the descriptor.
        const Clock::time_point now = Clock::now();
        SyncClockLocked(now, pacing);
        if (SamplesAtLocked(now) > nextSample_) SlipLocked(now, nextSample_);
    }
}

void BoardDma::Impl::OnResetLocked(Clock::time_point now) {
    nextTag_ = 0;
    progress_ = Progress{};
    ReoriginLocked(now, nextSample_);
}

void BoardDma::Impl::OnStartFromIdleLocked(Clock::time_point now, int pacing) {
    if (pacing != SIM_DMA_REALTIME) return;
    EnsureProgressLocked();
    SyncClockLocked(now, pacing);
    const uint64_t samplesNow = SamplesAtLocked(now);
    const uint64_t recordSamples = std::max<uint64_t>(1, progress_.geometry.recordLength);
    if (samplesNow <= nextSample_) return;
    // Records completed while nothing was queued went nowhere; the one in progress is taken.
    const uint64_t lost = (samplesNow - nextSample_) / recordSamples;
    AdvanceRecordsLocked(lost);
    recordsLost_.fetch_add(lost, std::memory_order_relaxed);
}

// ---- production (no registerMutex_) -----------------------------------------------------------------

void BoardDma::Impl::RefreshWaveforms() {
    const Clock::time_point now = Clock::now();
    if (!waveformsDirty_.exchange(false, std::memory_order_acq_rel) &&
        now - waveformsReadAt_ < kWaveformRefresh) {
        return;
    }
    waveformsReadAt_ = now;
    for (int channel = 0; channel < kGeneratorChannels; ++channel) {
        const uint64_t memory = model_->waveformMemory[channel];
        for (uint32_t point = 0; point < kWaveformPoints; ++point) {
            waveforms_[static_cast<size_t>(channel)][point] = port_.Bar0Word16(memory + 2u * point);
        }
    }
}

void BoardDma::Impl::PrepareLanes(const Batch &batch) {
    std::array<InputSignal, kInputCount> signals;
    ZeroErrorTable zeroErrors;
    bool loopback = false;
    {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        signals = signals_;
        zeroErrors = zeroErrors_;
        loopback = loopback_ && model_->hasGenerator;
    }
    const uint32_t laneCount = batch.geometry.lanes;
    // For slots at odd addresses, which cannot take 16-bit stores.
    interleaveScratch_.resize(static_cast<std::size_t>(InputStream::kSegmentSamples) * kInputCount);
    const SimFrontEnd undecodable{-1, -1, -1, -1, -1};
    // A single-lane board samples whichever input channel it has selected.
    int selected = 0;
    if (laneCount == 1) {
        SimFrontEnd frontEnd = undecodable;
        if (port_.FrontEnd(0, &frontEnd) && frontEnd.inputChannel >= 0 &&
            frontEnd.inputChannel < kInputCount) {
            selected = frontEnd.inputChannel;
        }
    }
    uint32_t outputMask = 0;
    if (loopback) {
        RefreshWaveforms();
        outputMask = port_.ControlRegister(kOutputMaskRegister);
    }
    const int adcMax = static_cast<int>(model_->adcMaxCode);
    for (uint32_t lane = 0; lane < laneCount && lane < kInputCount; ++lane) {
        const int input = laneCount == 1 ? selected : static_cast<int>(lane);
        SimFrontEnd frontEnd = undecodable;
        if (!port_.FrontEnd(input, &frontEnd)) frontEnd = undecodable;
        const int zeroError = zeroErrors.Get(input, frontEnd);
        LaneSource &source = lanes_[lane];
        if (loopback && lane < static_cast<uint32_t>(kGeneratorChannels)) {
            LoopbackStream &stream = loopbacks_[lane];
            LoopbackStream::Setting &setting = stream.Edit();
            const auto &memory = waveforms_[lane];
            for (uint32_t point = 0; point < kWaveformPoints; ++point) {
                setting.codes[point] =
                    static_cast<int16_t>(std::clamp(memory[point] + zeroError, 0, adcMax));
            }
            setting.step =
                (static_cast<uint64_t>(port_.ControlRegister(model_->stepIntegerRegister[lane]))
                 << 32) |
                port_.ControlRegister(model_->stepFractionRegister[lane]);
            LoopbackStream::SetClockRatio(setting, kGeneratorClockHz, batch.sampleRateHz);
            setting.originSample = batch.phaseOrigin[lane];
            setting.held = ((outputMask >> lane) & 1u) != 0;
            setting.heldCode =
                static_cast<int16_t>(std::clamp(kGeneratorMidCode + zeroError, 0, adcMax));
            source = LaneSource{nullptr, &stream};
        } else {
            InputStream &stream = inputs_[static_cast<size_t>(input)];
            InputStream::Setting setting;
            setting.signal = signals[static_cast<size_t>(input)];
            setting.zeroError = zeroError;
            setting.sampleRateHz = batch.sampleRateHz;
            setting.adcMaxCode = model_->adcMaxCode;
            setting.noiseOffset = static_cast<uint32_t>(NoiseOffsetOf(input));
            stream.Configure(setting);
            source = LaneSource{&stream, nullptr};
        }
    }
}

void BoardDma::Impl::WriteRecord(uint8_t *slot, const PlannedRecord &record,
                                 const RecordGeometry &geometry, uint64_t noiseSeed) {
    const uint32_t noiseShift = NoiseShiftOf(noiseSeed, record.firstSample);
    constexpr uint32_t kSegment = InputStream::kSegmentSamples;
    const uint32_t laneCount = geometry.lanes;
    const bool aligned = reinterpret_cast<std::uintptr_t>(slot) % alignof(int16_t) == 0;
    const int16_t *sources[kInputCount] = {};
    for (uint64_t done = 0; done < geometry.recordLength;) {
        const uint32_t count =
            static_cast<uint32_t>(std::min<uint64_t>(kSegment, geometry.recordLength - done));
        for (uint32_t lane = 0; lane < laneCount; ++lane) {
            sources[lane] = lanes_[lane].Codes(record.firstSample + done, count, noiseShift);
        }
        uint8_t *destination = slot + 2 * done * laneCount;
        const std::size_t bytes = static_cast<std::size_t>(count) * laneCount * sizeof(int16_t);
        if (laneCount == 1) {
            std::memcpy(destination, sources[0], bytes);
        } else if (aligned) {
            InterleaveLanes(reinterpret_cast<int16_t *>(destination), sources, laneCount, count);
        } else {
            InterleaveLanes(interleaveScratch_.data(), sources, laneCount, count);
            std::memcpy(destination, interleaveScratch_.data(), bytes);
        }
        done += count;
    }
    uint8_t *trailer = slot + 2 * geometry.recordPoints;
    const std::size_t trailerBytes = 2u * geometry.trailerPoints;
    if (trailerBytes > sizeof(uint32_t)) {
        std::memset(trailer + sizeof(uint32_t), 0, trailerBytes - sizeof(uint32_t));
    }
    StoreTag(trailer, record.tag);
}

void BoardDma::Impl::Produce(const Batch &batch) {
    if (batch.records.empty()) return;
    // The buffer is looked up before the production lock: the bus side may hold its own lock
    // around BufferUnlocking, which takes the production lock.
    DmaBufferView view = port_.LockedBuffer();
    std::lock_guard<std::mutex> lock(productionMutex_);
    if (batch.generation != bufferGeneration_) view = DmaBufferView{};
    const RecordGeometry &geometry = batch.geometry;
    uint64_t written = 0;
    uint64_t dropped = 0;
    const uint64_t noiseSeed = NoiseSeed();
    try {
        PrepareLanes(batch);
    } catch (const std::bad_alloc &) {
        view = DmaBufferView{};  // no memory for the ADC streams: nothing can be written
    }
    for (const PlannedRecord &record : batch.records) {
        const uint64_t target = batch.hostAddress + record.slot * geometry.slotBytes;
        const bool inside = view.base != nullptr && target >= batch.hostAddress &&
                            target >= view.busAddress &&
                            target - view.busAddress <= view.bytes &&
                            geometry.slotBytes <= view.bytes - (target - view.busAddress);
        if (!inside) {
            ++dropped;
            continue;
        }
        WriteRecord(view.base + (target - view.busAddress), record, geometry, noiseSeed);
        ++written;
    }
    recordsWritten_.fetch_add(written, std::memory_order_relaxed);
    droppedWrites_.fetch_add(dropped, std::memory_order_relaxed);
}

void BoardDma::Impl::DrainNow() {
    // The IMMEDIATE writer holds the producer token: complete everything queued, then return.
    Batch batch;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(registerMutex_);
            if (!PlanBatchLocked(kUnlimited, batch)) {
                producing_ = false;
                return;
            }
        }
        Produce(batch);
        std::lock_guard<std::mutex> lock(registerMutex_);
        FinishBatchLocked(batch, SIM_DMA_IMMEDIATE);
    }
}

// ---- the board's own thread ------------------------------------------------------------------------

void BoardDma::Impl::EnsureThread() {
    {
        std::lock_guard<std::mutex> lock(registerMutex_);
        if (destroying_) return;
        stopThread_ = false;
        if (threadRunning_) return;
        threadRunning_ = true;
    }
    // Detached: a thread that ends by itself (idle, buffer gone, dispatcher reset) is never
    // left behind unjoined; the destructor waits for threadRunning_ instead of joining.
    try {
        std::thread(&Impl::ThreadMain, this).detach();
    } catch (const std::system_error &) {
        // No thread: the queued descriptors wait, as on a stalled board, until a later write
        // tries again.
        std::lock_guard<std::mutex> lock(registerMutex_);
        threadRunning_ = false;
        threadExited_.notify_all();
    }
}

void BoardDma::Impl::ThreadMain() {
#if defined(__linux__)
    // Named for itself: a thread inherits the name of the thread that starts it, and the engine's
    // acquisition thread starts this one with its first descriptor.
    pthread_setname_np(pthread_self(), "ostrel-sim-dma");
#endif
    Batch batch;
    Clock::time_point idleSince = Clock::now();
    for (;;) {
        const int pacing = DmaPacing();
        const bool stalled = DmaStallRequested();
        std::unique_lock<std::mutex> lock(registerMutex_);
        const Clock::time_point now = Clock::now();
        if (stopThread_) {
            // The last touch of this object: the destructor may go on once the lock is free.
            threadRunning_ = false;
            threadExited_.notify_all();
            return;
        }
        if (!dispatcher_.HasActive()) {
            if (now - idleSince >= kIdleExit) {
                threadRunning_ = false;
                threadExited_.notify_all();
                return;
            }
            wake_.wait_for(lock, kIdleWait);
            continue;
        }
        idleSince = now;
        if (stalled || producing_) {
            // A stalled dispatcher holds its descriptors; the board's clock pauses with it.
            if (stalled && pacing == SIM_DMA_REALTIME) {
                SyncClockLocked(now, pacing);
                ReoriginLocked(now, nextSample_);
            }
            wake_.wait_for(lock, kStalledWait);
            continue;
        }
        const uint64_t ready = ReadyRecordsLocked(now, pacing);
        PlanBatchLocked(ready, batch);
        if (batch.records.empty() && !batch.completes) {
            // Realtime: sleep until the next record exists, in bounded steps.
            const uint64_t recordEnd =
                nextSample_ + std::max<uint64_t>(1, progress_.geometry.recordLength);
            const uint64_t samplesNow = SamplesAtLocked(now);
            const double toNext = clockRateHz_ > 0.0 && recordEnd > samplesNow
                                      ? static_cast<double>(recordEnd - samplesNow) / clockRateHz_
                                      : 0.0;
            const auto wait = std::clamp(
                std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(toNext)),
                std::chrono::duration_cast<Clock::duration>(kRealtimeWaitMin),
                std::chrono::duration_cast<Clock::duration>(kRealtimeWaitMax));
            wake_.wait_for(lock, wait);
            continue;
        }
        producing_ = true;
        lock.unlock();
        Produce(batch);
        lock.lock();
        producing_ = false;
        FinishBatchLocked(batch, pacing);
    }
}

// ---- the seam ----------------------------------------------------------------------------------------

BoardDma::BoardDma(BoardPort &port) : impl_(new Impl(port)) {}

BoardDma::~BoardDma() { delete impl_; }

bool BoardDma::HandlesBar2(uint64_t offset) { return DmaDispatcher::Handles(offset); }

uint32_t BoardDma::ReadBar2(uint64_t offset, int width) { return impl_->ReadBar2(offset, width); }

void BoardDma::WriteBar2(uint64_t offset, int width, uint32_t value) {
    impl_->WriteBar2(offset, width, value);
}

void BoardDma::BufferUnlocking() { impl_->BufferUnlocking(); }

void BoardDma::Bar0Written(uint64_t offset, int width) { impl_->Bar0Written(offset, width); }

}  // namespace ostrel::sim
