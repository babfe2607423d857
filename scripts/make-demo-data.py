#!/usr/bin/env python3
"""Writes the demo's invented sample data: resources/demo.eep (the simulated phone's EEPROM) and
resources/eeprom.dsc (descriptions for some of its blocks). Deterministic: running it again gives
the same bytes. Every block number, text and content here is made up for the demo."""

import random
import struct
from pathlib import Path

HWID = 0x0451          # the simulated phone's hardware id
OTHER_HWID = 0x0460    # a second, invented hardware generation for hardware-specific texts

# (block number, length, description or None, hardware id for the description)
NAMED = [
    (1, 16, "Boot counters", 0),
    (2, 8, "Power-on self test results", 0),
    (5, 32, "Keypad backlight timing", 0),
    (7, 4, "Display contrast", 0),
    (12, 20, "Ringer volume profile", 0),
    (13, 20, "Ringer volume profile (car kit)", 0),
    (20, 64, "Phonebook index", 0),
    (21, 128, "Phonebook index overflow", 0),
    (33, 10, "Language selection", 0),
    (34, 10, "Input language", 0),
    (40, 48, "Alarm clock", 0),
    (41, 24, "Calendar settings", 0),
    (52, 30, "SMS service centre", 0),
    (53, 6, "SMS validity period", 0),
    (60, 12, "Call timers", 0),
    (61, 12, "Call charge counters", 0),
    (76, 40, "Network selection list", 0),
    (77, 8, "Preferred band", 0),
    (88, 3, "Vibration strength", 0),
    (100, 256, "Melody editor slot 1", 0),
    (101, 256, "Melody editor slot 2", 0),
    (150, 0, "Empty placeholder", 0),
    (200, 36, "Battery calibration", HWID),
    (200, 36, "Battery calibration (early board)", OTHER_HWID),
    (201, 18, "Charger limits", 0),
    (233, 50, "Audio path gains", HWID),
    (233, 50, "Audio path gains (early board)", OTHER_HWID),
    (300, 22, "Field test menu flags", 0),
    (4999, 8, "Last lite block marker", 0),
    (5000, 100, "Radio calibration table A", 0),
    (5001, 100, "Radio calibration table B", 0),
    (5005, 64, "Transmit power ramps", HWID),
    (5005, 64, "Transmit power ramps (early board)", OTHER_HWID),
    (5008, 16, "Crystal trim", 0),
    (5009, 80, "Receiver gain table", 0),
    (5013, 12, "Security code store", 0),
    (5014, 24, "Subsidy lock state", 0),
    (5020, 200, "Operator logo", 0),
    (5021, 120, "Start-up animation header", 0),
    (5050, 40, "Data call settings", 0),
    (5060, 90, "WAP profile 1", 0),
    (5061, 90, "WAP profile 2", 0),
    (5077, 28, "Owner greeting text", 0),
    (5100, 512, "Picture store index", 0),
    (5120, 300, "Voice memo index", 0),
    (5200, 64, "Game high scores", 0),
    (5300, 48, "Accessory settings", 0),
    (-2, 4, "Test block with a negative number", 0),
]


def main() -> None:
    rng = random.Random(4545)
    root = Path(__file__).resolve().parent.parent / "resources"

    blocks = {}
    for number, length, _, _ in NAMED:
        if number not in blocks:
            blocks[number] = length
    # Unnamed blocks to make the dump look like a phone's: lite area and full area.
    while len(blocks) < 220:
        number = rng.choice([rng.randint(0, 480), rng.randint(5000, 5600)])
        blocks.setdefault(number, rng.choice([0, 2, 4, 8, 12, 16, 24, 32, 48, 64, 100, 160]))

    entries = b""
    count_a = count_b = 0
    for number in sorted(blocks):
        length = blocks[number]
        data = bytes(rng.randrange(256) for _ in range(length))
        version = rng.choice([0, 1, 1, 2, 3, 7])
        entries += struct.pack("<iii", number, length, version) + data
        if number <= 5000:
            count_a += 1
        else:
            count_b += 1
    eep = struct.pack("<ii", count_a, count_b) + entries + struct.pack("<H", HWID)
    (root / "demo.eep").write_bytes(eep)

    lines = []
    for number, _, text, hwid in NAMED:
        lines += [str(number), text, str(hwid)]
    (root / "eeprom.dsc").write_bytes(("\r\n".join(lines) + "\r\n").encode("ascii"))
    print(f"demo.eep: {len(blocks)} blocks, {len(eep)} bytes; eeprom.dsc: {len(NAMED)} records")


if __name__ == "__main__":
    main()
