"""Board.stream() and the acquire() built on it: every frame in order with what the engine knows
about it, losses counted exactly, time-outs and stops that end a read at once.

The simulated inputs carry a sine: a lane's samples of consecutive frames then continue one sine
without a break, which shows frames consecutive and contiguous (or not) independently of the
numbers the engine reports."""
import pickle
import threading
import time
import warnings

import numpy as np
import pytest

import ostrel
from ostrel import board as board_module
from ostrel import sim
from ostrel.stream import Frame

DEVICES = [("A001", 5, 1), ("A002", 6, 2), ("A004", 7, 1), ("A005", 8, 4), ("A006", 9, 2),
           ("A007", 10, 1), ("E001", 0, 1)]
SINE_CODES = 1000.0     # amplitude: within the code range of the 12-bit boards too


def samples_per_cycle(lane):
    """Each lane's sine has a period of its own, so that a lane read into another's buffer shows."""
    return 37.3 + 4.1 * lane
# Records of 1000 points: the simulator plays a sine with a period of 2^18 samples over a whole
# number of cycles, so frames of a power-of-two length would repeat one another exactly; 1000
# points a record make any frame skipped show as a jump.
LENGTH = 1000


def whole_records(lanes):
    """Records of LENGTH points per frame for the smallest frame the engine does not raise."""
    return -(-board_module.MIN_FRAME_POINTS // (LENGTH * lanes))


def feed_sines(board):
    """Each lane's own sine at its input (on single-lane boards lane 0's at every input channel)."""
    rate = board.sampling_rate * 1e6
    lanes = board.lane_count
    for index in range(4 if lanes == 1 else lanes):
        lane = index if lanes > 1 else 0
        sim.set_input_signal(0, index, dc=100.0 * index, amplitude=SINE_CODES,
                             frequency=rate / samples_per_cycle(lane))


def sine_breaks(samples, lane=0):
    """Indices near which samples stop following lane's sine. Differences of a sine are a sine of
    the same frequency, so d[n+1] + d[n-1] = 2 cos(w) d[n], whatever the dc; with integer codes
    the residual stays within a few codes, except across a break or for another frequency."""
    d = np.diff(np.asarray(samples, dtype=np.float64))
    factor = 2 * np.cos(2 * np.pi / samples_per_cycle(lane))
    residual = d[2:] + d[:-2] - factor * d[1:-1]
    return np.flatnonzero(np.abs(residual) > 12) + 2


@pytest.mark.parametrize("device, model, lanes", DEVICES)
@pytest.mark.parametrize("raised", [False, True])
def test_stream_delivers_consecutive_frames_with_their_info_on_every_model(
        device, model, lanes, raised):
    sim.set_boards([device])
    sim.set_dma_pacing(sim.Pacing.IMMEDIATE)
    with ostrel.Board(0) as board:
        assert board.model == model and board.lane_count == lanes
        feed_sines(board)
        record_length, number = (256, 64 // lanes) if raised else (LENGTH, whole_records(lanes))
        board.configure(record_length, number)
        # The board outruns the reader; a full queue drops the new frames, so the first eight
        # stay in the queue, consecutive.
        with board.stream(ring_frames=8, overflow="drop_newest", timeout=10.0) as stream:
            frames = [next(stream) for _ in range(6)]
        points = record_length * number
        for index, frame in enumerate(frames):
            assert isinstance(frame, Frame) and frame.dtype == np.int16
            assert frame.shape == (lanes, points)
            assert (frame.sequence, frame.lost_before, frame.complete) == (index, 0, True)
            assert frame.records_valid == frame.records_expected == number
            assert frame.records_lost == 0
            assert frame.sample_period == pytest.approx(1e-6 / board.sampling_rate, rel=1e-6)
        times = [frame.time_ns for frame in frames]
        assert times == sorted(times) and times[0] > 0
        for lane in range(lanes):
            # Each lane's buffer holds that lane's sine, running on from frame to frame.
            joined = np.concatenate([frame[lane] for frame in frames])
            breaks = sine_breaks(joined, lane)
            if raised:
                # A raised frame delivers the first records of the board's frame: within a
                # frame the sine runs on, between two frames it may jump.
                off_boundary = [b for b in breaks if min(b % points, -b % points) > 1]
                assert not off_boundary, (lane, off_boundary[:10])
            else:
                assert len(breaks) == 0, (lane, breaks[:10])
                # The check has teeth: a frame left out shows.
                skipped = np.concatenate([frames[0][lane], frames[2][lane]])
                assert len(sine_breaks(skipped, lane)) > 0
        assert (stream.frames_read, stream.frames_lost, stream.partial_frames,
                stream.records_lost) == (6, 0, 0, 0)


SLOW_RECORDS = whole_records(1)


def slow_sines_board(device="A001", divider=9):
    """Model 5 at 10 MS/s (divider 9), in real time: frames of 525 records of 1000 points take
    53 ms, slow enough that the reader is always there when a frame completes."""
    sim.set_boards([device])
    board = ostrel.Board(0)
    board.clock_divider = divider
    feed_sines(board)
    board.configure(LENGTH, SLOW_RECORDS)
    return board


# Records the simulated board leaves out once the stream runs: fewer than a frame leave a partial
# frame (or two, where they straddle a frame's end); more than two frames leave at least one
# frame with no record at all, which is never delivered: a gap in the sequence.
@pytest.mark.parametrize("on_loss", ["raise", "warn", "count"])
@pytest.mark.parametrize("skipped", [10, 2 * SLOW_RECORDS + 5])
def test_loss_is_reported_as_asked_and_counted_exactly(on_loss, skipped):
    with slow_sines_board() as board:
        with board.stream(ring_frames=16, on_loss=on_loss, timeout=10.0) as stream:
            delivered, caught = [], []

            def read():
                try:
                    frame = next(stream)
                except ostrel.FrameLossError as error:
                    caught.append(error)
                    frame = error.frame
                delivered.append(frame)
                return frame

            with warnings.catch_warnings(record=True) as warned:
                warnings.simplefilter("always")
                read()
                sim.skip_records(0, skipped)
                while stream.frames_read < 12 and (stream.records_lost < skipped
                                                   or not delivered[-1].records_valid):
                    read()
                after = read()  # the stream goes on after a loss
            lossy = [frame for frame in delivered if frame.lost_before or not frame.complete]
            assert lossy, "the skipped records never showed"
            # Frames in order, each completed no earlier than the one before.
            sequences = [frame.sequence for frame in delivered]
            assert sequences == sorted(set(sequences)), sequences
            times = [frame.time_ns for frame in delivered]
            assert times == sorted(times)
            # Every record left out is counted, whatever frames it fell into, and the count is
            # the records missing from the frames delivered plus those of the frames lost whole.
            # (Exactly the records left out: see test_records_lost_are_exactly_those_left_out.)
            missing = sum(frame.records_expected - frame.records_valid for frame in lossy)
            lost_whole = sum(frame.lost_before for frame in lossy)
            assert after.records_lost == stream.records_lost
            assert missing + SLOW_RECORDS * lost_whole == stream.records_lost >= skipped
            assert stream.frames_lost == lost_whole and stream.partial_frames == sum(
                not frame.complete for frame in lossy)
            if skipped > 2 * SLOW_RECORDS:
                # At least one frame lay wholly among the records left out: never delivered.
                assert lost_whole >= 1
            for frame in lossy:
                # Missing records read 0 in every lane; the others carry the signal.
                empty = (frame.reshape(1, SLOW_RECORDS, LENGTH) == 0).all(axis=2)[0]
                assert np.count_nonzero(empty) == frame.records_expected - frame.records_valid
                assert frame.complete == (frame.records_valid == frame.records_expected)
                assert frame.info.gap_before == (frame.lost_before > 0)
            loss_warnings = [w for w in warned if issubclass(w.category, ostrel.FrameLossWarning)]
            if on_loss == "raise":
                assert [error.frame.sequence for error in caught] == [f.sequence for f in lossy]
                last = caught[-1]
                assert (last.function, last.result) == ("DAQ_StreamRead", 0)
                assert last.records_lost == lossy[-1].records_lost
                assert last.frames_lost == lossy[-1].lost_before
                assert last.records_missing == SLOW_RECORDS - lossy[-1].records_valid
                assert not loss_warnings
            elif on_loss == "warn":
                assert len(loss_warnings) == len(lossy) and not caught
                assert f"frame {lossy[0].sequence}:" in str(loss_warnings[0].message)
            else:
                assert not caught and not loss_warnings


@pytest.mark.parametrize("skipped", [1, 10])
def test_records_lost_are_exactly_those_left_out(skipped):
    with slow_sines_board() as board:
        with board.stream(ring_frames=16, on_loss="count", timeout=10.0) as stream:
            next(stream)
            sim.skip_records(0, skipped)
            while stream.frames_read < 12 and stream.records_lost < skipped:
                next(stream)
            next(stream)
            assert stream.records_lost == skipped


@pytest.mark.parametrize("overflow, expected", [
    # A full queue keeps its frames and drops the new one: 1 follows 0, the board's later frames
    # are lost.
    ("drop_newest", "kept"),
    # A full queue drops its oldest frame: after the pause only the newest two are there.
    ("drop_oldest", "newest"),
    # A full queue stops the stream: what was queued is read, then every read overflows.
    ("fail", "overflow"),
])
def test_a_slow_reader_with_a_small_ring_sees_the_overflow_policy(overflow, expected):
    sim.set_boards(["A006"])
    sim.set_dma_pacing(sim.Pacing.IMMEDIATE)
    with ostrel.Board(0) as board:
        board.configure(1024, 256)
        with board.stream(ring_frames=2, overflow=overflow, on_loss="count",
                          timeout=10.0) as stream:
            sequences = [stream.read().sequence]
            # The reader pauses while the board completes eight more frames.
            wait_for_board_frames(board, 8)
            if expected == "overflow":
                # Frame 2 is queued too when the first read made room before it completed.
                sequences += [stream.read().sequence]
                try:
                    sequences += [stream.read().sequence]
                except ostrel.FrameOverflowError:
                    pass
                for _ in range(2):
                    with pytest.raises(ostrel.FrameOverflowError, match="queue of 2 frames"):
                        stream.read()
                assert sequences in ([0, 1], [0, 1, 2])
                return
            frames = [stream.read() for _ in range(3)]
            sequences += [frame.sequence for frame in frames]
        assert sequences == sorted(set(sequences))
        for before, frame in zip(sequences, frames):
            assert frame.lost_before == frame.sequence - before - 1
            assert frame.info.gap_before == (frame.lost_before > 0)
        if expected == "kept":
            assert sequences[:2] == [0, 1]  # never dropped
        else:
            # Eight frames completed during the pause; the queue kept the newest two of them.
            assert frames[0].lost_before >= 6
        assert stream.frames_lost >= 6
        assert stream.frames_lost == sequences[-1] + 1 - len(sequences)
        assert stream.records_lost == 256 * stream.frames_lost
        assert stream.partial_frames == 0


def wait_for_board_frames(board, count):
    """Waits until the board has completed count more frames (its frame counter)."""
    target = board.status[1] + count
    deadline = time.monotonic() + 60
    while board.status[1] < target:
        assert time.monotonic() < deadline, "the board stopped completing frames"
        time.sleep(0.005)


def test_a_stalled_board_times_out_and_a_stop_from_another_thread_ends_the_wait():
    with ostrel.Board(0, simulate="A006") as board:
        board.configure(1024, 256)
        sim.set_fault(sim.Fault.DMA_STALL)
        with board.stream(timeout=0.2) as stream:
            with pytest.raises(ostrel.FrameTimeoutError, match="no frame within 0.2 s") as caught:
                stream.read()
            assert caught.value.result == -5 and isinstance(caught.value, ostrel.DAQError)
            with pytest.raises(ostrel.FrameTimeoutError):
                stream.read(timeout=0)  # a poll
        # A read waiting for a whole day returns once another thread stops the stream.
        with board.stream(timeout=86400) as stream:
            outcome = []
            reader = threading.Thread(target=lambda: outcome.append(list(stream)))
            reader.start()
            time.sleep(0.3)
            assert reader.is_alive()
            stream.stop()
            reader.join(30)
            assert not reader.is_alive() and outcome == [[]]
            assert stream.ended
        sim.clear_fault(sim.Fault.DMA_STALL)
        with board.stream(ring_frames=2, timeout=10.0, on_loss="count") as stream:
            assert stream.read().sequence >= 0  # the board moves again


def test_leaving_the_with_stops_the_stream_and_the_queued_frames_stay_readable():
    sim.set_dma_pacing(sim.Pacing.IMMEDIATE)
    with ostrel.Board(0, simulate="A006") as board:
        board.configure(1024, 256)
        with board.stream(ring_frames=4, overflow="drop_newest", on_loss="count") as stream:
            with pytest.raises(ostrel.DAQError):
                board.latest_frame()  # the readout is refused while a stream runs
            assert stream.read().sequence == 0
            wait_for_board_frames(board, 8)  # the queue fills up again
        # Stopped: the four frames queued behind the first are still delivered, then the end.
        rest = [frame.sequence for frame in stream]
        assert rest[:3] == [1, 2, 3] and len(rest) == 4 and rest[3] > 3
        assert stream.read() is None and stream.ended
        board.start()
        board.wait_for_frame()
        assert board.latest_frame().shape == (2, 1024 * 256)
        board.stop()
        # Another stream starts afresh; one already running refuses a second.
        with board.stream(ring_frames=2, overflow="drop_newest") as stream:
            assert stream.read().sequence == 0
            with pytest.raises(ostrel.DAQError, match="already runs"):
                board.stream()
        # A stream replaced by a later one has ended: it neither reads nor stops the new one.
        first = board.stream(ring_frames=2, overflow="drop_newest", on_loss="count")
        first.stop()
        second = board.stream(ring_frames=2, overflow="drop_newest", on_loss="count")
        first.stop()
        assert first.read() is None and first.ended
        assert all(second.read() is not None for _ in range(5))  # more than the queue held
        second.stop()
        # A board closed under a stream: reads refuse, stop is harmless.
        stream = board.stream(ring_frames=2)
    with pytest.raises(ostrel.DAQError, match="closed"):
        stream.read()
    stream.stop()


@pytest.mark.parametrize("arguments, message", [
    ({"ring_frames": 1}, "ring_frames must be a whole number in 2..1024, not 1"),
    ({"ring_frames": 1025}, "ring_frames must be a whole number in 2..1024"),
    ({"ring_frames": 8.0}, "ring_frames must be a whole number"),
    ({"ring_frames": True}, "ring_frames must be a whole number"),
    ({"on_loss": "ignore"}, "on_loss must be one of 'raise', 'warn', 'count', not 'ignore'"),
    ({"overflow": "block"}, "overflow must be one of 'drop_oldest', 'drop_newest', 'fail'"),
    ({"timeout": 0}, "timeout must lie in"),
    ({"timeout": float("nan")}, "timeout must lie in"),
])
def test_stream_refuses_arguments_outside_their_range(arguments, message):
    with ostrel.Board(0, simulate="A006") as board:
        with pytest.raises(ValueError, match=message):
            board.stream(**arguments)
        # Refused before anything started: a stream can start now.
        board.stream(ring_frames=2).stop()
        stream = board.stream(ring_frames=2)
        with pytest.raises(ValueError, match="out must be"):
            stream.read(np.empty((2, 10), dtype=np.int16))
        with pytest.raises(ValueError, match="timeout must lie in 0"):
            stream.read(timeout=-1)
        stream.stop()


class ReadSpy:
    """Wraps Stream.read: counts the frames read and, before the read numbered skip_at, has the
    board leave out records."""

    def __init__(self, monkeypatch, skip_at=None, skipped=10):
        self.frames = []
        original = ostrel.Stream.read

        def read(stream, *arguments, **keywords):
            if len(self.frames) == skip_at:
                sim.skip_records(0, skipped)
            frame = original(stream, *arguments, **keywords)
            self.frames.append(frame.info)
            return frame

        monkeypatch.setattr(ostrel.Stream, "read", read)


@pytest.mark.parametrize("device, pacing, frames", [
    ("A001", sim.Pacing.IMMEDIATE, 12), ("A006", sim.Pacing.IMMEDIATE, 12),
    ("A005", sim.Pacing.IMMEDIATE, 12), ("A001", sim.Pacing.REALTIME, 3)])
def test_acquire_returns_consecutive_complete_frames(monkeypatch, device, pacing, frames):
    sim.set_boards([device])
    sim.set_dma_pacing(pacing)
    spy = ReadSpy(monkeypatch)
    with ostrel.Board(0) as board:
        feed_sines(board)
        lanes = board.lane_count
        board.configure(LENGTH, whole_records(lanes))
        acquired = board.acquire(frames=frames)
    assert acquired.shape == (frames, lanes, LENGTH * whole_records(lanes))
    returned = spy.frames[-frames:]
    assert [info.sequence for info in returned] == list(range(returned[0].sequence,
                                                              returned[0].sequence + frames))
    assert all(info.complete for info in returned)
    if pacing == sim.Pacing.IMMEDIATE:
        # The queue holds every frame asked for: the first ones of the run, read once each.
        assert [info.sequence for info in spy.frames] == list(range(frames))
    for lane in range(lanes):
        # One sine from the first sample of the first frame to the last of the last.
        assert len(sine_breaks(acquired[:, lane].ravel())) == 0


@pytest.mark.parametrize("restarts, outcome", [(16, "consecutive"), (0, "raises")])
def test_acquire_starts_its_run_over_after_a_loss(monkeypatch, restarts, outcome):
    monkeypatch.setattr(board_module, "_ACQUIRE_RESTARTS", restarts)
    spy = ReadSpy(monkeypatch, skip_at=1)
    with slow_sines_board() as board:
        if outcome == "raises":
            with pytest.raises(ostrel.FrameLossError, match="no 3 consecutive complete frames") \
                    as caught:
                board.acquire(frames=3, timeout=10)
            # The first frame the skip fell into (where it straddles two, only its part).
            assert caught.value.records_lost > 0
            assert caught.value.records_missing == caught.value.records_lost
            return
        acquired = board.acquire(frames=3, timeout=10)
    lossy = [info for info in spy.frames if not info.complete or info.lost_before]
    assert lossy and sum(info.records_expected - info.records_valid for info in lossy) >= 10
    # The frames returned follow the last lossy frame, one after another.
    last = spy.frames[-3:]
    assert [info.sequence for info in last] == list(range(last[0].sequence,
                                                          last[0].sequence + 3))
    assert all(info.complete for info in last) and last[0].sequence > lossy[-1].sequence
    assert len(sine_breaks(acquired[:, 0].ravel())) == 0


def test_a_stream_after_a_calibration_reads_the_geometry_configured_before_it():
    sim.set_dma_pacing(sim.Pacing.IMMEDIATE)
    with ostrel.Board(0, simulate="A005") as board:
        board.configure(1000, 132)
        board.self_calibrate()
        with board.stream(ring_frames=2, overflow="drop_newest") as stream:
            frame = stream.read()
        assert frame.shape == (4, 1000 * 132) == board.frame_shape
        assert frame.records_expected == 132 and frame.complete


def test_latest_frame_info_describes_the_frame_latest_frame_returned():
    sim.set_dma_pacing(sim.Pacing.IMMEDIATE)
    with ostrel.Board(0, simulate="A001") as board:
        board.configure(1024, 512)
        assert board.latest_frame_info is None
        board.start()
        board.wait_for_frame()
        board.latest_frame()
        info = board.latest_frame_info
        board.stop()
        assert info.records_expected == 512 and info.records_valid == 512 and info.complete
        assert info.lost_before == 0 and info.records_lost == 0 and not info.gap_before
        assert info.time_ns > 0 and info.sample_period == pytest.approx(1 / 50e6)
        board.configure(2048, 256)
        assert board.latest_frame_info is None  # none since the configuration


def test_a_frame_keeps_its_info_through_views_copies_and_pickling():
    sim.set_dma_pacing(sim.Pacing.IMMEDIATE)
    with ostrel.Board(0, simulate="A006") as board:
        board.configure(1024, 256)
        with board.stream(ring_frames=2, overflow="drop_newest") as stream:
            frame = stream.read(np.empty((2, 1024 * 256), dtype=np.int16))
    for kept in (frame[1], frame[:, :10], frame.copy(), pickle.loads(pickle.dumps(frame))):
        assert isinstance(kept, Frame) and kept.info == frame.info
    # Values computed from a frame are not the frame.
    for computed in (frame.mean(axis=1), frame * 2, frame - frame):
        assert type(computed) is np.ndarray
    assert type(frame.max()) is np.int16
