"""The exceptions the package raises for a refusal of the engine, and for what a stream lost."""


class DAQError(RuntimeError):
    """An export refused or failed: carries the export's name and its result."""

    def __init__(self, function, result, detail=""):
        self.function = function
        self.result = result
        message = f"{function} returned {result}"
        super().__init__(f"{message}: {detail}" if detail else message)


class FrameTimeoutError(DAQError):
    """No frame came within the stream's time-out (DAQ_StreamRead returned DAQ_TIMEOUT)."""

    def __init__(self, seconds, frames_read):
        self.seconds = seconds
        self.frames_read = frames_read
        super().__init__("DAQ_StreamRead", -5, f"no frame within {seconds:g} s "
                                               f"({frames_read} read before)")


class FrameOverflowError(DAQError):
    """A stream with overflow="fail" stopped on a full queue; every frame queued before it has
    been delivered (DAQ_StreamRead returned DAQ_OVERFLOW)."""

    def __init__(self, ring_frames, frames_read):
        self.ring_frames = ring_frames
        self.frames_read = frames_read
        super().__init__("DAQ_StreamRead", -6,
                         f"the queue of {ring_frames} frames filled up and the stream stopped "
                         f"after {frames_read} frames were read; read faster, use a larger "
                         f"ring_frames, or let a full queue drop frames (overflow=\"drop_oldest\" "
                         f"or \"drop_newest\")")


def loss_text(frame):
    """What a frame lost, in words."""
    parts = []
    if frame.lost_before:
        parts.append(f"{frame.lost_before} frame{'s' if frame.lost_before != 1 else ''} lost "
                     f"before it")
    missing = frame.records_expected - frame.records_valid
    if missing:
        parts.append(f"{missing} of its {frame.records_expected} records missing (read as 0)")
    return (f"frame {frame.sequence}: " + " and ".join(parts) +
            f"; {frame.records_lost} records lost since the start")


class FrameLossError(DAQError):
    """A stream delivered a frame with records missing, or after a gap, with on_loss="raise".

    frame is the frame as delivered (its missing records read 0); sequence, frames_lost (frames
    lost between the previous delivered frame and this one), records_missing (of this frame) and
    records_lost (since the start of the stream, whatever the cause) give the counts."""

    def __init__(self, frame, detail=None):
        self.frame = frame
        self.sequence = frame.sequence
        self.frames_lost = frame.lost_before
        self.records_missing = frame.records_expected - frame.records_valid
        self.records_lost = frame.records_lost
        super().__init__("DAQ_StreamRead", 0, detail or loss_text(frame))


class FrameLossWarning(UserWarning):
    """What a stream with on_loss="warn" warns with (warnings.filterwarnings can pick it)."""


def check(function, result, detail=""):
    """Raises DAQError for a negative result; returns the result otherwise."""
    if result < 0:
        raise DAQError(function, result, detail)
    return result
