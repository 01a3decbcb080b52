"""Frame rate of a Python reader (ostrel package) on the simulated board with the board's DMA at
full speed: the same loop as tools/frame_rate.c, so the two figures compare directly.

    python3 python/bench/frame_rate.py [device-id-hex] [record-length] [records] [frames]
"""
import sys
import time

import ostrel
from ostrel import sim


def main(arguments):
    device = arguments[0] if len(arguments) > 0 else "A006"
    length = int(arguments[1]) if len(arguments) > 1 else 1024
    records = int(arguments[2]) if len(arguments) > 2 else 512
    frames = int(arguments[3]) if len(arguments) > 3 else 200
    sim.set_boards([device])
    sim.set_dma_pacing(sim.Pacing.MAXRATE)
    with ostrel.Board(0) as board:
        board.configure(length, records)
        out = board.latest_frame()  # one preallocated buffer, as the C reader uses
        board.start()
        start = time.perf_counter()
        for _ in range(frames):
            board.wait_for_frame(5.0)
            board.latest_frame(out)
        seconds = time.perf_counter() - start
        board.stop()
    print(f"{frames / seconds:.1f} frames/s ({frames} frames of {out.shape[0]} lanes x "
          f"{out.shape[1]} points)")


if __name__ == "__main__":
    main(sys.argv[1:])
