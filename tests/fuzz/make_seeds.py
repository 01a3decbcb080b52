#!/usr/bin/python3
"""Writes the seed corpora of the fuzz targets: short call sequences in the byte encoding of
fuzz_exports.cpp (one scenario per model and per fault) and card-data files of every kind.
Run from anywhere; the files land next to this script under corpus/<target>/seed."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# Encoding of fuzz_exports.cpp: operation selectors (byte % 24) and argument picks.
OPEN, CLOSE, CONFIG, CONFIG_START, START, STOP, WAIT_READ, READ, STATUS = 0, 2, 3, 5, 6, 7, 8, 9, 10
DMA, RECORD_SET, RECORD_GET, INPUTS, CALIBRATE, MEASURE, GENERATOR, INFO, SIM = (
    11, 12, 13, 14, 16, 17, 18, 20, 21)
STREAM = 23
LENGTHS = [0, 1, 31, 32, 33, 99, 100, 101, 1000, 1001, 1024, 4095, 4096, 8192, 16383, 16384,
           16385, 32768, 32769, 0x80000, 0x7FFFFFFF, 0xFFFFFFFF]
NUMBERS = [0, 1, 2, 3, 4, 16, 17, 64, 128, 1000, 4096, 0x10000, 0x7FFFFFFF, 0x80000000,
           0xFFFFFFFF]
MODELS = {5: 0, 6: 1, 7: 2, 8: 3, 9: 4, 10: 5, 0xE001: 6, 'unknown': 7}
REALTIME, IMMEDIATE, MAXRATE = 0, 16, 200
FAULTS = range(1, 15)


def bus(models, pacing=MAXRATE):
    return [len(models) - 1] + [MODELS[m] for m in models] + [pacing]


def open_board(index=0):
    return [OPEN, 0, index + 1]


def configure(length, number, start=False):
    return [CONFIG_START if start else CONFIG, LENGTHS.index(length), NUMBERS.index(number)]


def wait_read(milliseconds=19, null_unused=0):
    return [WAIT_READ, milliseconds, null_unused]


def fault(number, on=True):
    return [SIM, 0, number - 1, 1 if on else 0]


def stream_start(ring_index=2, policy=0):
    # ring 4 (kRings[2]); policy byte: Below(4) - 1, so policy + 1
    return [STREAM, 0, 0, ring_index, 0, policy + 1]


def stream_read(timeout=3, shape=0, info_shape=0):
    claim = [20] if info_shape == 1 else []  # a claimed info size below the struct's
    return [STREAM, 1, shape, 0, info_shape] + claim + [timeout, 0]


def write(name, data):
    with open(name, 'wb') as file:
        file.write(bytes(data))


def export_seeds(directory):
    seeds = {}
    for model in MODELS:
        acquire = (bus([model]) + open_board() + configure(1000, 16) + [START] + wait_read() +
                   wait_read(39, 1) + [STATUS, 10, STOP, 1] + [CLOSE])
        seeds[f'acquire-{model}'] = acquire
        for length, number in [(4096, 4), (8192, 16), (1001, 17), (32, 1),
                               (16384, 64)]:
            seeds[f'geometry-{model}-{length}x{number}'] = (
                bus([model]) + open_board() + configure(length, number, start=True) +
                wait_read() + wait_read() + [STOP, 1])
        for calibration in range(3):
            seeds[f'calibrate{calibration}-{model}'] = (
                bus([model]) + open_board() + configure(1024, 64) + [CALIBRATE, calibration] +
                configure(1024, 64, start=True) + wait_read() + [READ, 0])
        seeds[f'dma-{model}'] = (bus([model]) + open_board() + [DMA, 0, DMA, 1] +
                                 configure(1000, 16) + [DMA, 1, DMA, 2, 5] + list(struct.pack("<i", 1000)) + [5] + list(struct.pack("<i", 16)))
        seeds[f'generator-{model}'] = (
            bus([model]) + open_board() +
            [GENERATOR, 0, 1, 2, 1] + [GENERATOR, 0, 1, 4, 0] + [GENERATOR, 0, 2, 12, 0] +
            [GENERATOR, 0, 1, 10, 7, 8] + [GENERATOR, 0, 1, 15, 1] + [GENERATOR, 0, 1, 14, 1])
        seeds[f'inputs-{model}'] = (bus([model]) + open_board() +
                                    [INPUTS, 0, 1, 0, 1, 0] + [INPUTS, 0, 35, 0, 1, 0] +
                                    [INPUTS, 0, 1, 0, 1, 5] + [RECORD_SET, 4, 0, 15] + [RECORD_GET])
        for policy in range(3):
            seeds[f'stream{policy}-{model}'] = (
                bus([model]) + open_board() + configure(1024, 64) + stream_start(2, policy) +
                stream_read() * 3 + stream_read(shape=1) + stream_read(info_shape=1) +
                [STREAM, 3] + stream_read(0) * 2 + [STREAM, 4, 1, 0] + configure(1024, 16) +
                stream_read() + [CLOSE])
    seeds['switch-models'] = (bus([6, 5]) + open_board(0) + configure(4096, 64) + open_board(1) +
                              [DMA, 1] + [CLOSE] + [SIM, 3, 0, 3] + open_board(0) + [DMA, 1])
    for number in FAULTS:
        seeds[f'fault-{number}'] = (bus([9]) + fault(number) + open_board() + configure(1000, 16) +
                                    [START] + wait_read() + [DMA, 0] + fault(number, False) +
                                    [CLOSE] + open_board() + configure(1000, 16, start=True) +
                                    wait_read())
    seeds['realtime-model5'] = bus([5], REALTIME) + open_board() + configure(1000, 64, True) + wait_read()
    for name, data in seeds.items():
        write(os.path.join(directory, name), data)


def card_data_seeds(directory):
    for index, device_id in enumerate([0xA001, 0xA002, 0xA004, 0xA005, 0xA006, 0xA007, 0xE001]):
        table = b''.join(struct.pack('<h', (entry * 37 - 2000) % 600 - 300) for entry in range(128))
        right = struct.pack('<I', device_id) + table
        write(os.path.join(directory, f'right-{device_id:x}'), [index, 0] + list(right))
        write(os.path.join(directory, f'right-trailing-{device_id:x}'), [index, 0] + list(right) + [1, 2, 3])
        write(os.path.join(directory, f'short-{device_id:x}'), [index, 0] + list(right[:259]))
        write(os.path.join(directory, f'id-only-{device_id:x}'), [index, 1])
        write(os.path.join(directory, f'wrong-id-{device_id:x}'), [index, 0] + list(struct.pack('<I', device_id ^ 1) + table))
        if device_id in (0xA004, 0xA007):  # the quickest offset sweeps
            write(os.path.join(directory, f'calibrate-{device_id:x}'), [index, 0xDC] + list(right))
            write(os.path.join(directory, f'directory-calibrate-{device_id:x}'), [index, 0xDE])


if __name__ == '__main__':
    for target, make in [('exports', export_seeds), ('card_data', card_data_seeds)]:
        directory = os.path.join(HERE, 'corpus', target, 'seed')
        os.makedirs(directory, exist_ok=True)
        make(directory)
