"""Frame rate of a Python stream reader (ostrel package: Stream.read into one preallocated array,
and `for frame in stream`, a new array per frame) beside the same loop in C (ostrel-frame-rate ... stream), in the same run, on the simulated board
with its DMA at full speed. Both fill the queue of 64 frames, stop the stream and time the reads of
what it queued, round after round: the figure is the reader's own pace, with neither the simulated
board nor the acquisition thread on the cores meanwhile. With maxrate (the default) the simulated
board's own thread fills the DMA buffer; with immediate the acquisition thread's queueing does.

    python3 python/bench/stream_rate.py [device-id-hex] [record-length] [records] [frames] [rounds]
                                        [maxrate|immediate]

The default geometry is 4 MiB frames (2 lanes x 1024 x 1024 points). The C program is looked for
beside the engine (OSTREL_LIBRARY_DIR's first folder, in a build tree) or named by
OSTREL_FRAME_RATE_TOOL. Measure on an idle machine: both loops share the cores with the
simulated board's and the engine's threads."""
import os
import re
import statistics
import subprocess
import sys
import time
from pathlib import Path

import numpy as np

import ostrel
from ostrel import sim


def c_tool():
    named = os.environ.get("OSTREL_FRAME_RATE_TOOL")
    if named:
        return named
    folders = [Path(entry) for entry in os.environ.get("OSTREL_LIBRARY_DIR", "").split(os.pathsep)
               if entry]
    folders.append(Path(__file__).resolve().parent.parent.parent / "build" / "default" / "engine")
    for folder in folders:
        candidate = folder.parent / "tools" / "ostrel-daq" / "ostrel-frame-rate"
        if candidate.exists():
            return str(candidate)
    raise SystemExit("ostrel-frame-rate not found: build it (cmake --build --preset default "
                     "--target ostrel-frame-rate) or name it in OSTREL_FRAME_RATE_TOOL")


def c_rate(device, length, records, frames, pacing):
    output = subprocess.run([c_tool(), device, str(length), str(records), str(frames), "stream",
                             pacing],
                            capture_output=True, text=True, check=True, timeout=600).stdout
    return float(re.match(r"([0-9.]+) frames/s", output).group(1))


def python_rate(device, length, records, frames, pacing, iterate=False):
    """Frames per second of stream.read(out) into one array, or with iterate of `for frame in
    stream`, which gives every frame an array of its own."""
    sim.reset()
    sim.set_boards([device])
    sim.set_dma_pacing(sim.Pacing.IMMEDIATE if pacing == "immediate" else sim.Pacing.MAXRATE)
    queue = 64
    with ostrel.Board(0) as board:
        board.configure(length, records)
        out = None
        read, reading = 0, 0.0
        while read < frames:
            with board.stream(ring_frames=queue, overflow="drop_newest", on_loss="count",
                              timeout=5.0) as stream:
                if out is None:
                    out = np.empty(stream.shape, dtype=np.int16)  # one array, as C has
                deadline = time.monotonic() + 30
                while board.status[1] < queue + 4:
                    if time.monotonic() > deadline:
                        raise SystemExit("the queue did not fill within 30 s")
            # Stopped: the queued frames are read with nothing else running.
            start = time.perf_counter()
            if iterate:
                for _frame in stream:
                    read += 1
                    if read == frames:
                        break
            else:
                while read < frames and stream.read(out, timeout=0) is not None:
                    read += 1
            reading += time.perf_counter() - start
    return frames / reading


def main(arguments):
    device = arguments[0] if len(arguments) > 0 else "A006"
    length = int(arguments[1]) if len(arguments) > 1 else 1024
    records = int(arguments[2]) if len(arguments) > 2 else 1024
    frames = int(arguments[3]) if len(arguments) > 3 else 300
    rounds = int(arguments[4]) if len(arguments) > 4 else 9
    pacing = arguments[5] if len(arguments) > 5 else "maxrate"
    if pacing not in ("maxrate", "immediate"):
        raise SystemExit(f"pacing must be maxrate or immediate, not {pacing!r}")
    c_rates, python_rates, iterate_rates = [], [], []
    for _ in range(rounds):  # interleaved, so that all three see the same machine
        c_rates.append(c_rate(device, length, records, frames, pacing))
        python_rates.append(python_rate(device, length, records, frames, pacing))
        iterate_rates.append(python_rate(device, length, records, frames, pacing, iterate=True))
    c_median, python_median = statistics.median(c_rates), statistics.median(python_rates)
    iterate_median = statistics.median(iterate_rates)
    lanes = 4 if device.upper() == "A005" else 2 if device.upper() in ("A002", "A006") else 1
    megabytes = 2 * lanes * length * records / 2**20
    print(f"{device}, frames of {lanes} lanes x {length * records} points ({megabytes:g} MiB), "
          f"{pacing} pacing, median of {rounds} rounds of {frames} frames:")
    print(f"  C       {c_median:8.1f} frames/s  (rounds: {', '.join(f'{r:.0f}' for r in c_rates)})")
    print(f"  Python  {python_median:8.1f} frames/s  (rounds: "
          f"{', '.join(f'{r:.0f}' for r in python_rates)})")
    print(f"  for frame in stream {iterate_median:8.1f} frames/s  (rounds: "
          f"{', '.join(f'{r:.0f}' for r in iterate_rates)})")
    print(f"  Python / C = {python_median / c_median:.1%} (read into one array), "
          f"{iterate_median / c_median:.1%} (for frame in stream)")
    # Round by round: the machine changes between rounds more than within one.
    ratios = [p / c for p, c in zip(python_rates, c_rates)]
    print(f"  per round, read / C: median {statistics.median(ratios):.1%}, "
          f"range {min(ratios):.1%}..{max(ratios):.1%}")


if __name__ == "__main__":
    main(sys.argv[1:])
