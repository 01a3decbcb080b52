"""One opened board: record geometry, clock, trigger, front end, acquisition, calibration,
diagnostics and the generator, with Python names and types."""
import atexit
import ctypes
import math
import numbers
import time

import numpy as np

from . import _library
from ._calls import call, get, get_many, raw
from .errors import DAQError, FrameLossError
from .generator import Generator
from . import stream as stream_module
from .stream import (LOSS_MODES, OVERFLOW_POLICIES, FrameInfo, Stream, check_choice,
                     check_ring_frames)

_UNSET = -(2 ** 31)  # a getter leaves this when the model has nothing to report
_i32, _u32, _f32 = ctypes.c_int32, ctypes.c_uint32, ctypes.c_float

#: The geometry acquire(), frames() and start() configure on a board not configured yet: records
#: of 1024 points per lane, 64 records per frame (the engine raises the record count so that a
#: frame holds at least 524288 points over all lanes; frame_shape tells the shape in force).
DEFAULT_RECORD_LENGTH = 1024
DEFAULT_RECORD_NUMBER = 64
# Points per lane a record length must be a multiple of, by model code: models 6, 9 and 10 write
# the length in groups of 4 points, model 7 (and the 0xE001 board, code 0) in groups of 8.
_RECORD_LENGTH_STEPS = {6: 4, 7: 8, 0: 8, 9: 4, 10: 4}

#: The longest wait for one frame that wait_for_frame, frames and acquire accept, in seconds.
MAX_TIMEOUT = stream_module.MAX_TIMEOUT
#: The fewest points (over all lanes) the engine acquires per frame: it raises the records per
#: frame of a smaller configuration to reach it.
MIN_FRAME_POINTS = 524288
# acquire() queues at most this many bytes of frames in the engine while it copies them out.
_ACQUIRE_QUEUE_BYTES = 256 * 1024 * 1024
# acquire() starts its run of consecutive frames over at most this many times after a loss.
_ACQUIRE_RESTARTS = 16


def check_timeout(timeout):
    """Returns timeout as a float of seconds; raises ValueError unless 0 < timeout <= one day."""
    if isinstance(timeout, bool) or not isinstance(timeout, numbers.Real):
        raise ValueError(f"timeout must be a number of seconds, not {timeout!r}")
    value = float(timeout)
    if not (math.isfinite(value) and 0.0 < value <= MAX_TIMEOUT):
        raise ValueError(f"timeout must lie in (0, {MAX_TIMEOUT:g}] seconds, not {timeout!r}")
    return value


def _check_count(name, value, minimum):
    if isinstance(value, bool) or not isinstance(value, numbers.Integral) or value < minimum:
        raise ValueError(f"{name} must be a whole number >= {minimum}, not {value!r}")
    return int(value)


def _optional(name, *leading):
    value = _i32(_UNSET)
    call(name, *leading, ctypes.byref(value))
    return None if value.value == _UNSET else value.value


class Lane:
    """The front end of one ADC lane (on single-lane boards: of the selected input)."""

    def __init__(self, board, index):
        self._board = board
        self.index = index

    def _get(self, setting):
        self._board._require_open()
        return _optional(f"DAQ_Get{setting}", self.index)

    def _set(self, setting, value):
        self._board._require_open()
        with _library.lock:
            count = get(f"DAQ_Get{setting}Number", _i32)
            if isinstance(value, bool) or not isinstance(value, numbers.Integral) or not (
                    0 <= value < count):
                allowed = f"0..{count - 1}" if count > 0 else "none on this board"
                raise ValueError(f"{setting.lower()} {value!r} is not a setting of this board "
                                 f"(valid: {allowed})")
            call(f"DAQ_Set{setting}", self.index, int(value))

    gain = property(lambda self: self._get("Gain"), lambda self, v: self._set("Gain", v))
    attenuation = property(lambda self: self._get("Attenuation"),
                           lambda self, v: self._set("Attenuation", v))
    coupling = property(lambda self: self._get("Coupling"),
                        lambda self, v: self._set("Coupling", v))
    termination = property(lambda self: self._get("Termination"),
                           lambda self, v: self._set("Termination", v))

    def settings(self):
        return {"gain": self.gain, "attenuation": self.attenuation,
                "coupling": self.coupling, "termination": self.termination}

    def __repr__(self):
        return f"Lane({self.index}, {self.settings()})"


class Board:
    """An opened board. Use as a context manager: ``with ostrel.Board(0) as board: ...``.

    Only one board can be open at a time in a process (the engine's state is process-wide)."""

    _open_board = None

    def __init__(self, index=0, simulate=None):
        """Opens board index. simulate, a device ID or a list of them ("A006", "A006,A001",
        ["A006", 0xA001]), first puts simulated boards with those IDs on the bus (see
        ostrel.sim); without it the board is a real one, unless the program asked for
        simulation otherwise (ostrel.sim, OSTREL_SIMULATE)."""
        with _library.lock:
            if Board._open_board is not None:
                raise DAQError("DAQ_OpenDevice", -1, "another Board is open; close it first")
            self.index = int(index)
            if simulate is not None:
                from . import sim
                sim.set_boards(_device_ids(simulate))
            _check_system()
            count = get("DAQ_GetDeviceNum", _i32)
            if not 0 <= self.index < count:
                raw("DAQ_CloseDevice")
                raise DAQError("DAQ_OpenDevice", -1,
                               f"no board at index {self.index} ({count} on the bus)")
            result = raw("DAQ_OpenDevice", self.index)
            if result != 0:
                raw("DAQ_CloseDevice")
                raise DAQError("DAQ_OpenDevice", result, _OPEN_FAILURES.get(result, ""))
            self._open = True
            self._configured = False
            self._stream = None  # the Stream last started
            Board._open_board = self
        self.generator = Generator(self)

    # ---- lifetime ---------------------------------------------------------------------------
    def close(self):
        """Stops acquisition and closes the board; safe to call twice."""
        with _library.lock:
            if getattr(self, "_open", False):
                self._open = False
                Board._open_board = None
                call("DAQ_CloseDevice")

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:  # never raise from a finaliser
            pass

    def _require_open(self):
        if not getattr(self, "_open", False):
            raise DAQError("Board", -1, "the board is closed")

    # ---- identity and model parameters --------------------------------------------------------
    @property
    def model(self):
        """Model code from the board's device ID (5..10, 0 for 0xE001, -1 unknown)."""
        return get("DAQ_GetDeviceModel", _i32, self.index)

    @property
    def info(self):
        names = ("vendor_id", "device_id", "bus", "slot", "function", "interrupt")
        return dict(zip(names, get_many("DAQ_GetDeviceInfo", [_u32] * 6, self.index)))

    @property
    def simulated(self):
        """True for a board of the simulator, False for a real one."""
        bound = _library.driver_library()
        return bool(bound and bound[1])

    lane_count = property(lambda self: get("DAQ_GetADCNumber", _i32))
    max_record_length = property(lambda self: get("DAQ_GetMaxRecordLength", _i32))
    records_in_memory = property(lambda self: get("DAQ_GetRecordNumInMem", _i32))
    dma_transfer_points = property(lambda self: get("DAQ_GetDMATransferPoints", _i32))
    gain_count = property(lambda self: get("DAQ_GetGainNumber", _i32))
    attenuation_count = property(lambda self: get("DAQ_GetAttenuationNumber", _i32))
    coupling_count = property(lambda self: get("DAQ_GetCouplingNumber", _i32))
    termination_count = property(lambda self: get("DAQ_GetTerminationNumber", _i32))

    @property
    def dma_info(self):
        """(trailer points, DMA info value, DMA chunks)."""
        return get_many("DAQ_GetDMAInfo", [ctypes.c_int16] * 3)

    @property
    def sampling_rates(self):
        """The model's sampling-rate table in MS/s, indexed by clock-divider code."""
        rate, count = get_many("DAQ_CheckSamplingRates", [_f32, _i32], 0)
        return [get_many("DAQ_CheckSamplingRates", [_f32, _i32], code)[0]
                for code in range(count)] if count > 0 else []

    # ---- record geometry and timing -----------------------------------------------------------
    @property
    def record_length(self):
        return _optional("DAQ_GetRecordLength")

    @record_length.setter
    def record_length(self, value):
        call("DAQ_SetRecordLength", int(value))

    @property
    def record_number(self):
        return _optional("DAQ_GetRecordNumber")

    @record_number.setter
    def record_number(self, value):
        call("DAQ_SetRecordNumber", int(value))

    @property
    def clock_divider(self):
        return _optional("DAQ_GetClockDivider")

    @clock_divider.setter
    def clock_divider(self, code):
        call("DAQ_SetSamplingRate", int(code))

    @property
    def sampling_rate(self):
        """Current sampling rate in MS/s."""
        return get_many("DAQ_GetSamplingRate", [_u32, _f32])[1]

    @property
    def trigger(self):
        return _optional("DAQ_GetTrigger")

    @trigger.setter
    def trigger(self, value):
        call("DAQ_SetTrigger", int(value))

    @property
    def input_channel(self):
        return _optional("DAQ_GetInputChannel")

    @input_channel.setter
    def input_channel(self, channel):
        call("DAQ_SetInputChannel", int(channel))

    def set_indicator(self, code):
        call("DAQ_SetLEDCode", int(code))

    def set_record_counters(self, counters):
        values = [int(value) for value in counters]
        if len(values) != 4:
            raise ValueError("four record counters are needed")
        call("DAQ_SetRecordCounters", *values)

    def lane(self, index):
        return Lane(self, int(index))

    @property
    def lanes(self):
        return [Lane(self, index) for index in range(self.lane_count)]

    # ---- raw registers ------------------------------------------------------------------------
    def read_register(self, index):
        return get("ReadMemory32", _u32, int(index))

    def write_register(self, index, value):
        call("WriteMemory32", int(index), int(value) & 0xFFFFFFFF)

    # ---- acquisition --------------------------------------------------------------------------
    def configure(self, record_length=DEFAULT_RECORD_LENGTH, record_number=DEFAULT_RECORD_NUMBER,
                  start=False):
        """Configures records of record_length points per lane and at least record_number records
        per frame (the engine raises the count so that a frame holds at least 524288 points over
        all lanes); frame_shape gives the shape in force."""
        self._require_open()
        name = "DAQ_ConfigAcquisition_and_Start" if start else "DAQ_ConfigAcquisition"
        with _library.lock:
            maximum = self.max_record_length
            length = _check_count("record_length", record_length, 32)
            step = _RECORD_LENGTH_STEPS.get(self.model, 1)
            if length > maximum or length % step:
                multiple = f", a multiple of {step}" if step > 1 else ""
                raise ValueError(f"record_length must lie in 32..{maximum}{multiple} on this "
                                 f"board, not {length}")
            number = _check_count("record_number", record_number, 1)
            call(name, length, number)
            self._configured = True
            self._requested = (length, number)
            # What the engine's getters report for it: while they report the same, this is the
            # geometry in force (they read the board's registers, which on some models hold the
            # length in another unit, and the raised record count).
            self._reported = (_optional("DAQ_GetRecordLength"), _optional("DAQ_GetRecordNumber"))

    def _ensure_configured(self):
        if not getattr(self, "_configured", False):
            self.configure(DEFAULT_RECORD_LENGTH, DEFAULT_RECORD_NUMBER)

    def start(self):
        """Starts the acquisition thread, configuring the default geometry first on a board that
        was not configured."""
        self._require_open()
        with _library.lock:
            self._ensure_configured()
            call("DAQ_StartAcquisition")

    def stop(self):
        call("DAQ_StopAcquisition")

    @property
    def new_frame_available(self):
        return raw("DAQ_NewDataFrameAvailable") == 1

    @property
    def frame_shape(self):
        """(lanes, points per lane) of the frame a read returns now: the configured record length
        times the records per frame, as the engine reports them right now (a calibration or
        another configuration may have changed them)."""
        return self._frame_geometry()[:2]

    def _frame_geometry(self):
        """(lanes, points per lane returned, points per lane the engine may write). The engine
        returns the first configured-count records of a frame whose count it may have raised;
        its getters report the raised count, so a read goes through a buffer sized for both."""
        lanes, points, capacity, _ = self._read_geometry()
        return lanes, points, capacity

    def _read_geometry(self):
        """_frame_geometry and whether the engine's geometry is the one this Board configured
        (its getters report what they reported then): a frame then holds exactly the points
        configured, and a read may go straight into the caller's array. Otherwise another caller
        of the library changed it, and a read returns what fits both geometries."""
        self._require_open()
        with _library.lock:
            if not getattr(self, "_configured", False):
                raise DAQError("DAQ_ConfigAcquisition", -1,
                               "configure the acquisition first (or use acquire(), which "
                               "configures the default geometry)")
            lanes = self.lane_count
            length = _optional("DAQ_GetRecordLength")
            number = _optional("DAQ_GetRecordNumber")
            if not lanes or not length or not number or length < 0 or number < 0:
                raise DAQError("DAQ_GetRecordLength", -1,
                               f"the engine reports no frame geometry (lanes {lanes}, record "
                               f"length {length}, records {number})")
            asked_length, asked_number = self._requested
            if (length, number) == getattr(self, "_reported", None):
                return lanes, asked_length * asked_number, asked_length * asked_number, True
            points = length * min(number, asked_number)
            capacity = max(length, asked_length) * max(number, asked_number)
            return lanes, points, capacity, False

    def latest_frame(self, out=None):
        """Reads the latest frame into out (or a new array) of shape (lanes, points), int16. The
        shape is asked of the engine right before the read, under the library's lock, and the
        engine writes into a buffer of the largest frame it may deliver, never into out."""
        with _library.lock:
            lanes, points, capacity = self._frame_geometry()
            if out is None:
                out = np.empty((lanes, points), dtype=np.int16)
            elif (not isinstance(out, np.ndarray) or out.shape != (lanes, points)
                  or out.dtype != np.int16 or not out.flags.writeable):
                raise ValueError(f"out must be a writable int16 array of shape "
                                 f"{(lanes, points)} (the frame in force)")
            scratch = getattr(self, "_scratch", None)
            if scratch is None or scratch.shape != (lanes, capacity):
                scratch = self._scratch = np.empty((lanes, capacity), dtype=np.int16)
            pointers = [scratch[lane].ctypes.data if lane < lanes else None
                        for lane in range(4)]
            call("DAQ_GetLatestFrame", *pointers)
            np.copyto(out, scratch[:, :points])
        return out

    def wait_for_frame(self, timeout=5.0):
        """Waits until a new frame is announced; raises TimeoutError after timeout seconds
        (0 < timeout <= MAX_TIMEOUT, else ValueError)."""
        seconds = check_timeout(timeout)
        deadline = time.monotonic() + seconds
        while raw("DAQ_NewDataFrameAvailable") != 1:
            if time.monotonic() > deadline:
                raise TimeoutError("no frame within %g s" % seconds)
            time.sleep(0.0002)

    def frames(self, count=None, timeout=5.0):
        """Yields frames as they are announced, each a new (lanes, points) int16 array; starts
        and stops the acquisition around the iteration."""
        check_timeout(timeout)
        if count is not None:
            count = _check_count("count", count, 0)
        return self._frames(count, timeout)

    def _frames(self, count, timeout):
        self.start()
        try:
            produced = 0
            while count is None or produced < count:
                self.wait_for_frame(timeout)
                yield self.latest_frame()
                produced += 1
        finally:
            self.stop()

    def acquire(self, frames=1, timeout=5.0):
        """frames consecutive complete frames (sequences k..k+frames-1 of one stream) in one
        (frames, lanes, points) int16 array. A board not configured yet gets the default geometry
        (DEFAULT_RECORD_LENGTH points, DEFAULT_RECORD_NUMBER records). timeout bounds the wait
        for each frame (FrameTimeoutError). A frame with records missing, or a gap, starts the
        run over at the next frame; after repeated losses FrameLossError tells what was lost.
        Below 524288 points per frame the engine raises the records per frame and consecutive
        frames are not contiguous in time (see ostrel.stream)."""
        count = _check_count("frames", frames, 1)
        seconds = check_timeout(timeout)
        self._require_open()
        # One acquisition at a time: no other thread reconfigures the board under it.
        with _library.lock:
            self._ensure_configured()
            lanes, points = self.frame_shape
            out = np.empty((count, lanes, points), dtype=np.int16)
            frame_bytes = max(1, lanes * points * 2)
            ring = max(2, min(1024, count, _ACQUIRE_QUEUE_BYTES // frame_bytes))
            # A full queue drops the new frame: the frames queued first stay consecutive, so a
            # board faster than this reader still yields the first ring frames whole.
            with self.stream(ring_frames=ring, on_loss="count", timeout=seconds,
                             overflow="drop_newest") as stream:
                filled, restarts = 0, 0
                while filled < count:
                    frame = stream.read(out[filled])
                    if frame is None:
                        raise DAQError("DAQ_StreamRead", -7,
                                       f"the stream ended after {filled} of {count} frames")
                    if frame.complete and (filled == 0 or frame.lost_before == 0):
                        filled += 1
                        continue
                    # The run of consecutive frames is broken: it starts over, with this frame
                    # when it is whole.
                    restarts += 1
                    if restarts > _ACQUIRE_RESTARTS:
                        raise FrameLossError(
                            frame, f"no {count} consecutive complete frames: the run was broken "
                                   f"{restarts} times ({stream.frames_lost} frames lost, "
                                   f"{stream.partial_frames} partial, {stream.records_lost} "
                                   f"records lost in {stream.frames_read} frames read)")
                    if frame.complete:
                        if filled:
                            out[0] = out[filled]
                        filled = 1
                    else:
                        filled = 0
        return out

    def stream(self, ring_frames=64, on_loss="raise", timeout=1.0, overflow="drop_oldest"):
        """Starts streaming every frame in order; returns the Stream, to use in a with block:

            with board.stream(ring_frames=64, on_loss="raise", timeout=1.0) as frames:
                for frame in frames:     # int16 arrays (lanes, points)
                    frame.sequence, frame.complete, frame.lost_before, frame.time_ns

        ring_frames (2..1024) frames wait in the engine's queue; when it is full, overflow says
        what happens to the next frame: "drop_oldest" drops the oldest queued frame,
        "drop_newest" the new one, "fail" stops the stream (FrameOverflowError once the queued
        frames are read). on_loss says what a partial frame or a gap does: "raise"
        (FrameLossError, carrying the frame and the counts), "warn" (FrameLossWarning) or
        "count" (only the stream's counters). timeout bounds the wait for each frame
        (FrameTimeoutError). A board not configured yet gets the default geometry.

        Where record length x record number x lanes is below 524288 points the engine raises the
        records per board frame: a frame holds the configured records, the first of the board's
        frame, and consecutive frames are not contiguous in time (time_ns shows the spacing)."""
        check_ring_frames(ring_frames)
        check_choice("on_loss", on_loss, LOSS_MODES)
        check_choice("overflow", overflow, tuple(OVERFLOW_POLICIES))
        seconds = check_timeout(timeout)
        self._require_open()
        with _library.lock:
            self._ensure_configured()
            lanes, points, capacity, exact = self._read_geometry()
            result = raw("DAQ_StreamStart", ring_frames, OVERFLOW_POLICIES[overflow])
            if result < 0:
                raise DAQError("DAQ_StreamStart", result,
                               f"cannot start a stream of {ring_frames} frames of {lanes} lanes "
                               f"x {points} points: an acquisition or stream already runs, or "
                               f"the queue's {ring_frames * lanes * points * 2} bytes cannot be "
                               f"had")
            self._stream = Stream(self, (lanes, points), ring_frames, on_loss, seconds,
                                  overflow, capacity=None if exact else capacity)
            return self._stream

    @property
    def latest_frame_info(self):
        """FrameInfo of the frame the last latest_frame() returned (sequence in its run, records
        valid of the configured records, completion time, sample period); None before
        latest_frame() has returned a frame since the last configuration."""
        info = _library.DAQ_FrameInfo()
        info.size = ctypes.sizeof(info)
        self._require_open()
        if raw("DAQ_GetLatestFrameInfo", ctypes.byref(info)) != 0:
            return None
        return FrameInfo.from_struct(info)

    @property
    def status(self):
        """(records received, frame counter, data rate in MB/s)."""
        return get_many("DAQ_CheckDMA", [_i32, _i32, _f32])

    @property
    def frame_statistics(self):
        values = (_i32 * 9)()
        call("DAQ_GetDebugValue", values)
        return list(values)

    # ---- calibration and measurement ----------------------------------------------------------
    # Every calibration puts the caller's geometry back once it is done.
    def calibrate_dc_offset(self):
        call("DAQ_Calibration_DCOffset")

    def calibrate_vertical_scale(self):
        call("DAQ_Calibration_VerticalScale")

    def self_calibrate(self):
        call("DAQ_SelfCalibrationOnce")

    def measure(self, samples):
        """(peak-to-peak, mean, RMS) in volts of a block of int16 samples."""
        block = np.ascontiguousarray(samples, dtype=np.int16)
        return get_many("DAQ_MeasureSignal", [_f32] * 3, block.ctypes.data, int(block.size))

    @property
    def vertical_info(self):
        """(full scale in millivolts, largest ADC code)."""
        return get_many("DAQ_GetVerticalInfo", [_f32, _i32])

    # ---- DMA diagnostics ----------------------------------------------------------------------
    def _pool_bytes(self):
        return 16 * self.dma_transfer_points * 2

    def bandwidth_test(self):
        """Fills the DMA pool once; returns (MB/s, the pool as a uint8 array)."""
        pool = np.empty(self._pool_bytes(), dtype=np.uint8)
        rate = _f32()
        call("DAQ_DMABandwidthTest", pool.ctypes.data, ctypes.byref(rate))
        return rate.value, pool

    def copy_dma_pool(self):
        pool = np.empty(self._pool_bytes(), dtype=np.uint8)
        call("DAQ_CopyDMAPool", pool.ctypes.data)
        return pool

    def process_dma_pool(self, record_length, records_per_frame):
        """(first chained tag or None, records in the chain)."""
        first, count = _i32(_UNSET), _i32()
        call("DAQ_ProcessDMAPool", None, ctypes.byref(first), ctypes.byref(count),
             int(record_length), int(records_per_frame))
        return (None if first.value == _UNSET else first.value), count.value


_OPEN_FAILURES = {-1: "no board or the driver library cannot be opened",
                  -2: "configuration revision is not 9",
                  -3: "driver control device unavailable",
                  -4: "DMA buffer cannot be locked"}


def _close_at_exit():
    """Closes a board left open at interpreter exit, so that the engine's acquisition thread is
    stopped before the interpreter and its buffers go away."""
    board = Board._open_board
    if board is not None:
        try:
            board.close()
        except Exception:  # nothing to report to at exit
            pass


atexit.register(_close_at_exit)


def _device_ids(simulate):
    """Device IDs from "A006", "A006,A001", 0xA006 or a list of either."""
    if isinstance(simulate, str):
        items = [item for item in simulate.split(",")]
    elif isinstance(simulate, numbers.Integral):
        items = [simulate]
    else:
        items = list(simulate)
    if not items:
        raise ValueError("simulate needs at least one device ID, such as 'A006'")
    ids = []
    for item in items:
        try:
            ids.append(int(item.strip(), 16) if isinstance(item, str) else int(item))
        except ValueError:
            raise ValueError(f"simulate takes hexadecimal device IDs such as 'A006', "
                             f"not {item!r}") from None
    return ids


def _check_system():
    """DAQ_CheckSystem; a failure carries the engine's explanation (without a driver-access
    library: the library looked for and how to ask for simulated boards)."""
    scanned = _i32()
    with _library.lock:
        result = raw("DAQ_CheckSystem", ctypes.byref(scanned))
        if result < 0:
            detail = _library.status_text()
            raw("DAQ_CloseDevice")
            raise DAQError("DAQ_CheckSystem", result, detail)


def boards():
    """Lists the boards on the bus: dicts of index, vendor and device ID, location, model, and
    whether the board is simulated, with the driver-access library ("library") reaching it."""
    _check_system()
    found = get("DAQ_GetDeviceNum", _i32)
    library, simulated = _library.driver_library() or ("", False)
    listed = []
    for index in range(found):
        values = get_many("DAQ_GetDeviceInfo", [_u32] * 6, index)
        listed.append({"index": index, "vendor_id": values[0], "device_id": values[1],
                       "bus": values[2], "slot": values[3], "function": values[4],
                       "model": get("DAQ_GetDeviceModel", _i32, index),
                       "simulated": simulated, "library": library})
    # The check leaves the driver library open; closing with nothing open gives it back.
    with _library.lock:
        if Board._open_board is None:
            raw("DAQ_CloseDevice")
    return listed
