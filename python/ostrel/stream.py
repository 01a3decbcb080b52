"""Streaming: every frame the board completes, in order, each with what the engine knows about it,
or an exact count of what was lost.

    with board.stream(ring_frames=64, on_loss="raise", timeout=1.0) as frames:
        for frame in frames:                 # int16 arrays (lanes, points)
            print(frame.sequence, frame.complete, frame.time_ns)

The engine acquires into a queue of ring_frames frames that the stream hands out oldest first.
Frames are numbered as the board completes them: a frame dropped because the queue was full, or
lost whole, leaves a gap in the numbers that the next frame reports (frame.lost_before); a frame
with records missing arrives with those records read as 0 and frame.complete False.

Where record length x record number x lanes is below 524288 points, the engine raises the records
per board frame to reach that minimum: a frame still holds the configured records (the first ones
of the board's frame), but the rest are not delivered, so consecutive frames are not contiguous in
time (frame.time_ns shows their spacing)."""
import ctypes
import math
import threading
import typing
import warnings

import numpy as np

from . import _library
from .errors import (DAQError, FrameLossError, FrameLossWarning, FrameOverflowError,
                     FrameTimeoutError, loss_text)

#: What a full queue does with the next frame, by the name stream() takes.
OVERFLOW_POLICIES = {"drop_oldest": _library.DAQ_STREAM_DROP_OLDEST,
                     "drop_newest": _library.DAQ_STREAM_DROP_NEWEST,
                     "fail": _library.DAQ_STREAM_FAIL}
#: What a stream does when a frame arrives partial or after a gap.
LOSS_MODES = ("raise", "warn", "count")
#: Frames the engine's queue can hold.
MIN_RING_FRAMES, MAX_RING_FRAMES = 2, 1024
#: The longest wait for one frame that reads (and wait_for_frame, frames, acquire) accept, in s.
MAX_TIMEOUT = 86400.0

# A read waits in slices of at most this long, so that an interrupt (Ctrl-C) is seen between them.
_WAIT_SLICE_MS = 100


class FrameInfo(typing.NamedTuple):
    """What the engine tells about one frame."""
    sequence: int            # 0 for the run's first frame, +1 for every frame the board completed
    complete: bool           # every configured record arrived
    gap_before: bool         # frames were lost between the previous delivered frame and this
    records_expected: int    # the configured record number
    records_valid: int       # of those, the records that arrived (missing ones read 0)
    lost_before: int         # frames lost since the previous delivered frame
    records_lost: int        # records lost since the start of the stream, whatever the cause
    time_ns: int             # monotonic host time at which the frame was completed, ns
    sample_period: float     # seconds between two samples of a lane

    @classmethod
    def from_struct(cls, info):
        flags = info.flags
        return cls(sequence=info.frameSequence,
                   complete=bool(flags & _library.DAQ_FRAME_COMPLETE),
                   gap_before=bool(flags & _library.DAQ_FRAME_GAP_BEFORE),
                   records_expected=info.recordsExpected, records_valid=info.recordsValid,
                   lost_before=info.framesLostBefore, records_lost=info.recordsLostTotal,
                   time_ns=info.completedNs, sample_period=info.samplePeriodS)


class Frame(np.ndarray):
    """An int16 array (lanes, points) with what the engine tells about the frame as attributes:
    sequence, complete, lost_before, time_ns, records_valid, records_expected, records_lost,
    sample_period (all from frame.info, a FrameInfo). Views and copies keep the info; values
    computed from a frame (frame.mean(axis=1), frame * 2) are plain arrays."""

    info = None

    def __array_finalize__(self, source):
        self.info = getattr(source, "info", None)

    def __array_wrap__(self, array, context=None, return_scalar=False):
        result = np.ndarray.__array_wrap__(self, array, context).view(np.ndarray)
        # A whole-frame reduction (frame.max()) is a scalar, as it is of a plain array.
        return result[()] if return_scalar or result.ndim == 0 else result

    def __reduce__(self):  # a pickled frame keeps its info
        reconstruct, arguments, state = super().__reduce__()
        return reconstruct, arguments, (state, self.info)

    def __reduce_ex__(self, protocol):  # every protocol: the array's buffer and the info
        return self.__reduce__()

    def __setstate__(self, state):
        array_state, self.info = state
        super().__setstate__(array_state)

    sequence = property(lambda self: self.info.sequence)
    complete = property(lambda self: self.info.complete)
    lost_before = property(lambda self: self.info.lost_before)
    time_ns = property(lambda self: self.info.time_ns)
    records_valid = property(lambda self: self.info.records_valid)
    records_expected = property(lambda self: self.info.records_expected)
    records_lost = property(lambda self: self.info.records_lost)
    sample_period = property(lambda self: self.info.sample_period)


def check_ring_frames(value):
    if isinstance(value, bool) or not isinstance(value, int) or not (
            MIN_RING_FRAMES <= value <= MAX_RING_FRAMES):
        raise ValueError(f"ring_frames must be a whole number in {MIN_RING_FRAMES}.."
                         f"{MAX_RING_FRAMES}, not {value!r}")
    return value


def check_choice(name, value, choices):
    if value not in choices:
        raise ValueError(f"{name} must be one of {', '.join(map(repr, choices))}, not {value!r}")
    return value


class Stream:
    """A running stream of one board; made by Board.stream(), which starts it.

    Iterating yields every delivered frame as a new Frame and ends once the stream has stopped
    and every queued frame has been read. read(out) reads the next frame into an array of the
    caller's, which costs no more than the engine's copy. Leaving a with block, stop(), a new
    configuration or a calibration of the board, or closing it, stops the stream; stop() may be
    called from another thread while a read waits, which then returns at once.

    Counters, whatever on_loss says: frames_read, frames_lost (frames dropped or lost whole
    between delivered frames), partial_frames (frames delivered with records missing) and
    records_lost (records lost since the start, from both causes)."""

    def __init__(self, board, shape, ring_frames, on_loss, timeout, overflow, capacity=None):
        self._board = board
        self.shape = shape
        # Where the engine's geometry is not the one the board configured (another caller of
        # the library changed it), the engine may write more points per lane than a frame of
        # shape holds: it reads into a buffer of capacity points per lane, and the frame gets
        # the first points of each lane, as latest_frame() does.
        self._scratch = None if capacity is None else np.empty((shape[0], capacity), np.int16)
        self._scratch_pointers = None if capacity is None else self._pointers_into(self._scratch)
        self._checked_out = None
        self._checked_pointers = None
        self.ring_frames = ring_frames
        self.on_loss = on_loss
        self.timeout = timeout
        self.overflow = overflow
        self.frames_read = 0
        self.frames_lost = 0
        self.partial_frames = 0
        self.records_lost = 0
        self._info = _library.DAQ_FrameInfo()
        self._info_pointer = ctypes.pointer(self._info)
        self._ended = False
        self._stopped = False
        # A stop from another thread may call the engine only while this stream's read waits
        # inside it (the one call the engine takes beside another): _reading says when, and
        # _reading_lock keeps the reader there until that stop is done.
        self._reading = False
        self._reading_lock = threading.Lock()

    # ---- lifetime ---------------------------------------------------------------------------
    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.stop()

    def stop(self):
        """Stops the acquisition; frames already queued can still be read, then the iteration
        ends. Safe to call twice and from another thread than the reader's."""
        self._stopped = True
        while True:
            if _library.lock.acquire(timeout=0.005):
                try:
                    if self._current():
                        _library.engine.DAQ_StreamStop()
                    return
                finally:
                    _library.lock.release()
            with self._reading_lock:
                if self._reading:
                    _library.engine.DAQ_StreamStop()
                    return

    @property
    def ended(self):
        """True once a read has found the stream stopped with nothing left to deliver."""
        return self._ended

    # ---- reading ----------------------------------------------------------------------------
    def __iter__(self):
        return self

    def __next__(self):
        frame = self.read()
        if frame is None:
            raise StopIteration
        return frame

    def read(self, out=None, timeout=None):
        """The next frame, in out (a writable C-ordered int16 array of the stream's shape) or in
        a new array, as a Frame; None once the stream has ended. Waits up to timeout seconds (the
        stream's own by default) and raises FrameTimeoutError when none came, FrameOverflowError
        when a stream with overflow="fail" stopped on a full queue, and FrameLossError for a
        partial frame or one after a gap when on_loss is "raise" (the frame is in the error,
        and the stream goes on at the next read)."""
        if out is None:
            out = np.empty(self.shape, dtype=np.int16)
            pointers = self._pointers_into(out)
        elif out is self._checked_out and out.shape == self.shape and out.dtype == np.int16:
            pointers = self._checked_pointers  # the array read into frame after frame
        else:
            self._check_out(out)
            pointers = self._checked_pointers
        seconds = self.timeout if timeout is None else _check_read_timeout(timeout)
        if self._scratch is None:
            target = out
        else:
            target, pointers = self._scratch, self._scratch_pointers
        if not self._read_into(pointers, target.shape[1], seconds):
            return None
        if self._scratch is not None:
            np.copyto(out, self._scratch[:, :self.shape[1]])
        frame = out.view(Frame)
        frame.info = info = FrameInfo.from_struct(self._info)
        self._count(info)
        if info.lost_before or not info.complete:
            self._report_loss(frame)
        return frame

    def _check_out(self, out):
        if (not isinstance(out, np.ndarray) or out.shape != self.shape or out.dtype != np.int16
                or not out.flags.c_contiguous or not out.flags.writeable):
            raise ValueError(f"out must be a writable C-ordered int16 array of shape "
                             f"{self.shape}")
        # The array a caller reads into frame after frame is checked once.
        self._checked_out = out
        self._checked_pointers = self._pointers_into(out)

    def _pointers_into(self, array):
        """The lane addresses of a (lanes, points) array, one per lane the board has, else None."""
        address = array.__array_interface__["data"][0]
        lane_bytes = array.shape[1] * 2
        return [address + lane * lane_bytes if lane < array.shape[0] else None
                for lane in range(4)]

    def _read_into(self, pointers, capacity, seconds):
        """DAQ_StreamRead in slices until a frame, the end or the time-out; True for a frame."""
        if self._ended:
            return False
        remaining_ms = max(0, math.ceil(seconds * 1000))
        with _library.lock:
            self._board._require_open()
            if not self._current():  # a later stream replaced this one: it has ended
                self._ended = True
                return False
        self._info.size = ctypes.sizeof(_library.DAQ_FrameInfo)
        while True:
            wait_ms = min(remaining_ms, _WAIT_SLICE_MS)
            with _library.lock:
                self._board._require_open()
                with self._reading_lock:
                    self._reading = True
                try:
                    result = _library.engine.DAQ_StreamRead(
                        pointers[0], pointers[1], pointers[2], pointers[3], capacity,
                        self._info_pointer, wait_ms)
                finally:
                    with self._reading_lock:
                        self._reading = False
            if result == 0:
                return True
            if result == _library.DAQ_ENDED:
                self._ended = True
                return False
            if result == _library.DAQ_TIMEOUT:
                remaining_ms -= wait_ms
                if remaining_ms <= 0:
                    raise FrameTimeoutError(seconds, self.frames_read)
                continue
            if result == _library.DAQ_OVERFLOW:
                raise FrameOverflowError(self.ring_frames, self.frames_read)
            raise DAQError("DAQ_StreamRead", result,
                           f"the engine refused to read a frame into {self.shape[0]} lanes of "
                           f"{capacity} points")

    def _count(self, info):
        self.frames_read += 1
        self.frames_lost += info.lost_before
        self.records_lost = info.records_lost
        if not info.complete:
            self.partial_frames += 1

    def _report_loss(self, frame):
        if self.on_loss == "raise":
            raise FrameLossError(frame)
        if self.on_loss == "warn":
            warnings.warn(loss_text(frame), FrameLossWarning, stacklevel=3)

    def _current(self):
        """Whether this is the stream the engine runs or ran last for an open board: the engine
        has one stream, so a Stream that a later one replaced neither stops nor reads it."""
        return getattr(self._board, "_open", False) and self._board._stream is self

    def __repr__(self):
        state = "ended" if self._ended else "stopped" if self._stopped else "started"
        return (f"Stream(shape={self.shape}, ring_frames={self.ring_frames}, "
                f"overflow={self.overflow!r}, on_loss={self.on_loss!r}, {state}, "
                f"frames_read={self.frames_read}, frames_lost={self.frames_lost}, "
                f"partial_frames={self.partial_frames}, records_lost={self.records_lost})")


def _check_read_timeout(timeout):
    """A read may also poll: 0 <= timeout <= one day."""
    if isinstance(timeout, bool) or not isinstance(timeout, (int, float)):
        raise ValueError(f"timeout must be a number of seconds, not {timeout!r}")
    value = float(timeout)
    if not (math.isfinite(value) and 0.0 <= value <= MAX_TIMEOUT):
        raise ValueError(f"timeout must lie in 0..{MAX_TIMEOUT:g} seconds, not {timeout!r}")
    return value
