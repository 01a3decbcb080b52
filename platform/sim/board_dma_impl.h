// The acquisition side of one simulated board: the DMA dispatcher behind BAR 2, the record
// sequence (tags, lost and skipped records), the ADC and the generator loopback, and the board's
// own thread that completes descriptors at the pace SIM_SetDmaPacing chooses.
//
// Exported from the simulator library so that tests and benchmarks can drive one board over a
// fake BoardPort and a plain buffer, without the bus.
//
// Threads and locks. The engine's acquisition thread polls DmaStatus in a tight loop (one atomic
// load) and writes descriptor registers while the board's thread completes descriptors:
//   registerMutex_   dispatcher registers and queue, the record sequence, the sample clock,
//                    generator phase origins, the thread flags. Held briefly, never while
//                    records are written.
//   productionMutex_ the ADC streams and the writes into the locked buffer. BufferUnlocking takes
//                    it, so once it returns no write is in progress and none planned before it
//                    will start.
//   settingsMutex_   the SIM_* scenario settings.
// Order: productionMutex_ before registerMutex_; settingsMutex_ innermost. Of the BoardPort only
// ControlRegister, Bar0Word16, FrontEnd and ModelType are called with a lock held (the bus side
// keeps them lock-free); LockedBuffer and the fault query are called with none held.
//
// The board's thread is started on the first descriptor that needs it and ends by itself when
// the buffer goes away, the dispatcher is reset, or it has been idle for a second; every wait in
// it is bounded. It runs detached, so an ended thread is never left unjoined (the bus, and with
// it the boards, lives until the process exits); the destructor waits until it has ended.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/sim/adc_model.h"
#include "platform/sim/board_port.h"
#include "platform/sim/dma_dispatcher.h"
#include "platform/sim/loopback.h"
#include "platform/sim/signal_tables.h"

namespace ostrel::sim {

// Process-wide pacing of every board (a SimDmaPacing value).
int DmaPacing();
// True while the bus side's SIM_FAULT_DMA_STALL is set.
bool DmaStallRequested();

class SIM_API BoardDma::Impl {
public:
    struct Counters {
        uint64_t descriptorsCompleted = 0;
        uint64_t recordsWritten = 0;
        uint64_t recordsLost = 0;     // acquired while no descriptor was queued
        uint64_t recordsSkipped = 0;  // SIM_SkipRecords
        uint64_t droppedWrites = 0;   // record writes outside the locked buffer
        uint64_t ignoredGoWrites = 0; // descriptors offered while the buffer was full
    };

    explicit Impl(BoardPort &port);
    ~Impl();
    Impl(const Impl &) = delete;
    Impl &operator=(const Impl &) = delete;

    static Impl &Of(BoardDma &dma) { return *dma.impl_; }

    uint32_t ReadBar2(uint64_t offset, int width);
    void WriteBar2(uint64_t offset, int width, uint32_t value);
    void BufferUnlocking();
    void Bar0Written(uint64_t offset, int width);
    // Set by every write into a waveform memory; the bus side sets it directly for point writes.
    std::atomic<bool> &WaveformsDirtyFlag() { return waveformsDirty_; }
    // The part of Bar0Written for a write that lies inside the waveform-memory window (and so
    // cannot touch the output mask): inline, as a waveform update makes 8192 of them.
    void WaveformWindowWritten(uint64_t offset, int width) {
        if (model_ == nullptr || !model_->hasGenerator) return;
        for (uint64_t memory : model_->waveformMemory) {
            if (offset < memory + 2ull * kWaveformPoints &&
                memory < offset + static_cast<uint64_t>(width)) {
                waveformsDirty_.store(true, std::memory_order_release);
            }
        }
    }

    // Scenario controls; -1 for a bad argument, nothing changed.
    int SetInputSignal(int input, const InputSignal &signal);
    int SetZeroError(int input, int coupling, int termination, int gain, int attenuation,
                     int codes);
    int SkipRecords(int count);
    int SetLoopback(bool enabled);
    // Signals, zero errors, loopback, pending skips and counters back to power-on.
    void ResetSettings();
    // The pacing changed: hand queued work to the board's thread if it now needs one.
    void PacingChanged();

    uint64_t DroppedDmaWrites() const { return droppedWrites_.load(std::memory_order_relaxed); }
    uint64_t LostRecords() const { return recordsLost_.load(std::memory_order_relaxed); }
    uint64_t ClockSlipNs() const { return clockSlipNs_.load(std::memory_order_relaxed); }
    Counters GetCounters() const;
    // The zero error the board applies to an input in a front-end setting.
    int ZeroError(int input, const SimFrontEnd &setting) const;
    // Whether the board's own thread is running now.
    bool ThreadRunning() const;

private:
    using Clock = std::chrono::steady_clock;

    struct RecordGeometry {
        uint64_t recordLength = 0;  // points per lane
        uint32_t lanes = 0;
        uint64_t recordPoints = 0;  // recordLength x lanes
        uint32_t trailerPoints = 0;
        uint64_t slotBytes = 0;
        uint32_t slots = 0;         // records the active descriptor takes
    };
    struct PlannedRecord {
        uint32_t slot;
        uint32_t tag;
        uint64_t firstSample;
    };
    struct Batch {
        uint64_t serial = 0;
        uint64_t generation = 0;  // of the locked buffer when planned
        uint64_t hostAddress = 0;
        RecordGeometry geometry;
        double sampleRateHz = 0.0;
        std::array<uint64_t, kGeneratorChannels> phaseOrigin{};
        std::vector<PlannedRecord> records;
        bool completes = false;
    };
    struct LaneSource {
        InputStream *input = nullptr;
        LoopbackStream *loopback = nullptr;
        const int16_t *Codes(uint64_t first, uint32_t count, uint32_t noiseShift) const {
            return input != nullptr ? input->Codes(first, count, noiseShift)
                                    : loopback->Codes(first, count);
        }
    };

    // ---- with registerMutex_ held
    double ClockRateLocked() const;
    uint64_t SamplesAtLocked(Clock::time_point now) const;
    void ReoriginLocked(Clock::time_point now, uint64_t sample);
    // Moves the clock back to `sample` at `now`, giving up the board time since (counted).
    void SlipLocked(Clock::time_point now, uint64_t sample);
    void SyncClockLocked(Clock::time_point now, int pacing);
    uint64_t CurrentSampleLocked(Clock::time_point now, int pacing);
    void EnsureProgressLocked();
    void AdvanceRecordsLocked(uint64_t count);
    uint64_t ReadyRecordsLocked(Clock::time_point now, int pacing);
    bool PlanBatchLocked(uint64_t readyRecords, Batch &batch);
    void FinishBatchLocked(const Batch &batch, int pacing);
    void OnResetLocked(Clock::time_point now);
    void OnStartFromIdleLocked(Clock::time_point now, int pacing);

    // ---- without registerMutex_
    void Produce(const Batch &batch);
    void PrepareLanes(const Batch &batch);
    void RefreshWaveforms();
    void WriteRecord(uint8_t *slot, const PlannedRecord &record, const RecordGeometry &geometry,
                     uint64_t noiseSeed);
    void DrainNow();
    void EnsureThread();
    void ThreadMain();

    BoardPort &port_;
    const AcquisitionModel *const model_;

    mutable std::mutex registerMutex_;
    std::condition_variable wake_;
    DmaDispatcher dispatcher_;
    uint32_t nextTag_ = 0;
    uint64_t nextSample_ = 0;  // ADC sample index at which the next record starts
    uint64_t skipRemaining_ = 0;
    struct Progress {
        uint64_t serial = 0;
        RecordGeometry geometry;
        uint32_t slotsPlanned = 0;
    } progress_;
    bool producing_ = false;  // one producer at a time: the board's thread or an IMMEDIATE writer
    Clock::time_point originTime_;
    uint64_t originSample_ = 0;
    double clockRateHz_ = 0.0;
    int clockPacing_ = -1;
    uint32_t lastOutputMask_ = 0;
    std::array<uint64_t, kGeneratorChannels> phaseOrigin_{};
    bool threadRunning_ = false;  // a board thread exists (it is detached)
    bool stopThread_ = false;
    bool destroying_ = false;
    std::condition_variable threadExited_;

    std::mutex productionMutex_;
    // Changes when the locked buffer goes away; written with both locks held, read with either.
    uint64_t bufferGeneration_ = 0;
    std::array<InputStream, kInputCount> inputs_;
    std::array<LoopbackStream, kGeneratorChannels> loopbacks_;
    std::array<std::array<uint16_t, kWaveformPoints>, kGeneratorChannels> waveforms_{};
    std::atomic<bool> waveformsDirty_{true};
    Clock::time_point waveformsReadAt_;
    std::array<LaneSource, kInputCount> lanes_;
    std::vector<int16_t> interleaveScratch_;

    mutable std::mutex settingsMutex_;
    std::array<InputSignal, kInputCount> signals_{};
    ZeroErrorTable zeroErrors_;
    bool loopback_ = false;

    std::atomic<uint64_t> descriptorsCompleted_{0};
    std::atomic<uint64_t> recordsWritten_{0};
    std::atomic<uint64_t> recordsLost_{0};
    std::atomic<uint64_t> recordsSkipped_{0};
    std::atomic<uint64_t> droppedWrites_{0};
    std::atomic<uint64_t> clockSlipNs_{0};  // board time given up by the clock, ns
};

// Every live board's acquisition side, for the process-wide SIM_* controls.
void RegisterBoardDma(BoardDma::Impl *board);
void UnregisterBoardDma(BoardDma::Impl *board);

}  // namespace ostrel::sim
