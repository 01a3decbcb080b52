"""What a new user meets first: the default geometry, refusals that name the valid range, a frame
shape asked of the engine before every read, calls serialised between threads, and a board left
open at exit."""
import math
import subprocess
import sys
import textwrap
import threading

import numpy as np
import pytest

import ostrel
from ostrel import sim
from ostrel.board import DEFAULT_RECORD_LENGTH, DEFAULT_RECORD_NUMBER


def test_acquire_on_a_fresh_board_uses_the_default_geometry():
    for device, lanes in (("A006", 2), ("A005", 4), ("A001", 1)):
        sim.set_boards([device])
        with ostrel.Board(0) as board:
            frames = board.acquire(frames=3)
            assert frames.shape == (3, lanes, DEFAULT_RECORD_LENGTH * DEFAULT_RECORD_NUMBER)
            assert board.frame_shape == (lanes, DEFAULT_RECORD_LENGTH * DEFAULT_RECORD_NUMBER)


@pytest.mark.parametrize("device, length, message", [
    ("A006", 1001, "record_length must lie in 32..16384, a multiple of 4 on this board, not 1001"),
    ("A004", 1028, "a multiple of 8 on this board, not 1028"),
    ("A005", 16384, "record_length must lie in 32..8192 on this board, not 16384"),
    ("A001", 16, "record_length must be a whole number >= 32, not 16"),
    ("A001", 1024.0, "record_length must be a whole number"),
])
def test_configure_refuses_record_lengths_the_board_cannot_take(device, length, message):
    sim.set_boards([device])
    with ostrel.Board(0) as board:
        with pytest.raises(ValueError, match=message):
            board.configure(length, 64)
        # Nothing was configured: a read still asks for a configuration.
        with pytest.raises(ostrel.DAQError, match="configure the acquisition first"):
            board.latest_frame()


@pytest.mark.parametrize("timeout", [math.nan, math.inf, -math.inf, -1.0, 0.0, 1e300, 86401,
                                     "5", None, True])
def test_wait_for_frame_refuses_timeouts_outside_the_range(timeout):
    with ostrel.Board(0) as board:
        board.configure(1024, 64)
        for call in (lambda: board.wait_for_frame(timeout),
                     lambda: board.acquire(frames=1, timeout=timeout),
                     lambda: board.frames(count=1, timeout=timeout)):
            with pytest.raises(ValueError, match=r"timeout must|must be a number"):
                call()
        # Refused before anything started: no frame is ever announced.
        assert not board.new_frame_available


def test_frame_shape_follows_the_engine_after_a_reconfiguration_behind_the_boards_back():
    with ostrel.Board(0) as board:
        board.configure(1024, 64)
        assert board.frame_shape == (2, 1024 * 64)
        # Another caller of the library (C code, a calibration) changes the geometry.
        assert ostrel._library.engine.DAQ_ConfigAcquisition(4096, 512) == 0
        assert board.frame_shape == (2, 4096 * 64)
        frames = board.acquire(frames=2)
        assert frames.shape == (2, 2, 4096 * 64)
        with pytest.raises(ValueError, match="shape"):
            board.latest_frame(np.empty((2, 1024 * 64), dtype=np.int16))


def run_python(code, timeout=120):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                          text=True, timeout=timeout)


def test_calibration_between_reads_never_overruns_the_frame_buffer():
    # In a process of its own: a buffer overrun ends it with a signal.
    result = run_python("""
        import ostrel
        with ostrel.Board(0, simulate="A006") as board:
            board.configure(1024, 64)
            for step in range(3):
                board.calibrate_dc_offset()
                frames = board.acquire(frames=2)
                print(frames.shape, board.frame_shape)
        """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.count("(2, 2, ") == 3


def test_a_board_left_open_is_closed_at_interpreter_exit():
    # atexit runs its functions last-registered first: this check, registered before ostrel is
    # imported, runs after the package has closed the board.
    code = """
        import atexit
        def after():
            from ostrel import sim
            print("open handles", sim.resource_count(sim.Resource.DEVICE_HANDLES),
                  "locked buffers", sim.resource_count(sim.Resource.DMA_BUFFERS))
        atexit.register(after)
        import ostrel
        board = ostrel.Board(0, simulate="A006")
        board.configure(1024, 64)
        board.start()
        board.wait_for_frame()
        print("acquiring")
        """
    for _ in range(5):
        result = run_python(code)
        assert result.returncode == 0, result.stderr
        assert result.stdout.splitlines() == ["acquiring", "open handles 0 locked buffers 0"]


def test_threads_sharing_a_board_never_read_into_a_frame_of_another_shape():
    geometries = [(1024, 64), (2048, 256), (512, 1024)]
    errors = []
    stop = threading.Event()
    with ostrel.Board(0) as board:
        board.configure(*geometries[0])

        def reader():
            try:
                while not stop.is_set():
                    frames = board.acquire(frames=1)
                    assert frames.shape[2] in {length * number for length, number in geometries}
            except Exception as error:  # reported below
                errors.append(error)

        threads = [threading.Thread(target=reader) for _ in range(2)]
        for thread in threads:
            thread.start()
        for step in range(30):
            board.configure(*geometries[step % len(geometries)])
        stop.set()
        for thread in threads:
            thread.join(60)
    assert not errors, errors


@pytest.mark.parametrize("setting, value, message", [
    ("waveform", "saw", "unknown waveform 'saw'; known: sine, square, triangle"),
    ("waveform", 7, "waveform must be one of"),
    ("amplitude", 100, "amplitude must lie in 0..4.75"),
    ("amplitude", -3, "amplitude must lie in 0..4.75"),
    ("amplitude", math.nan, "amplitude must lie in"),
    ("offset", 3, "offset must lie in -1.875..1.875"),  # at amplitude 1
    ("duty_cycle", 2, "duty_cycle must lie in 0..1"),
    ("frequency", 1e12, "frequency must lie in 0..1.5e+08"),
    ("frequency", -1, "frequency must lie in"),
    ("phase", math.inf, "phase must lie in"),
])
def test_generator_settings_outside_their_range_are_refused_and_change_nothing(setting, value,
                                                                               message):
    with ostrel.Board(0) as board:
        channel = board.generator[0]
        channel.configure("square", frequency=1e6, amplitude=1.0, duty_cycle=0.25)
        before = {name: getattr(channel, name)
                  for name in ("waveform", "amplitude", "duty_cycle", "frequency")}
        with pytest.raises(ValueError, match=message.replace("(", r"\(").replace("+", r"\+")):
            setattr(channel, setting, value)
        assert {name: getattr(channel, name) for name in before} == before


def test_front_end_settings_outside_the_boards_table_are_refused():
    with ostrel.Board(0) as board:
        lane = board.lane(0)
        lane.gain = 1
        for value in (7, -1, 2, 1.5, True):
            with pytest.raises(ValueError, match=r"valid: 0\.\.1"):
                lane.gain = value
        assert lane.gain == 1
        assert sim.front_end(0, 0)["gain"] == 1


@pytest.mark.parametrize("device", ["A004", "E001"])
def test_twelve_bit_boards_sit_at_mid_scale_and_calibrate_to_zero(device):
    # A process of its own: the engine keeps the offsets of an earlier calibration.
    result = run_python(f"""
        import numpy as np, ostrel
        ostrel.sim.set_boards(["{device}"])
        with ostrel.Board(0) as board:
            print(board.vertical_info[1])
            # Medians: a record the acquisition thread missed on a loaded machine holds older
            # contents.
            print(np.median(board.acquire(frames=1)[0, 0]))
            # At the board's real pace a loaded machine makes the acquisition thread miss
            # records, and the calibration may then average a frame with older contents (an
            # engine matter); here the board completes each transfer as it is queued.
            ostrel.sim.set_dma_pacing(ostrel.sim.Pacing.IMMEDIATE)
            board.calibrate_dc_offset()
            board.configure(1024, 64)
            print(np.median(board.acquire(frames=1)[0, 0]))
        """)
    assert result.returncode == 0, result.stderr
    largest, raw, calibrated = (float(value) for value in result.stdout.split())
    assert largest == 4095
    # Read as raw - 8192 before calibration: a grounded input at 2048 plus its zero error of -79
    # codes (it once sat clipped at 4095, reading -4097).
    assert raw == 2048 - 79 - 8192
    # The calibration sums 2^18 samples near -6144 in float: its mean may be off by 64 codes.
    assert abs(calibrated) <= 65


def test_noise_differs_from_record_to_record_and_averages_down():
    sim.set_boards(["A006"])
    with ostrel.Board(0) as board:
        sim.set_input_signal(0, 0, noise=20.0)
        board.configure(1024, 64)
        records = board.acquire(frames=8).astype(np.float64)[:, 0].reshape(-1, 1024)
    # Records the acquisition thread missed on a loaded machine hold older contents; the noise
    # is judged on the records that came.
    records = records[np.abs(records.std(axis=1) - 20.0) < 3.0]
    assert len(records) >= 256
    noise = records - records.mean()
    correlations = [np.corrcoef(noise[i], noise[i + 1])[0, 1] for i in range(len(noise) - 1)]
    assert max(abs(value) for value in correlations) < 0.2
    assert abs(np.mean(correlations)) < 0.02
    averaged = noise[:256].reshape(32, 8, 1024).mean(axis=1)
    assert averaged.std() == pytest.approx(20.0 / math.sqrt(8), rel=0.1)
