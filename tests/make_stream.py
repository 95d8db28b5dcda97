#!/usr/bin/env python3
"""Small transport streams for the host program's cases, played by the
stand-in card with --replay (no PCR: at the card's rate). Two services, 1
"One" and 2 "Two", named by the SDT; their PMTs on 0x100 and 0x200, a stream
each on 0x101 and 0x201.

Usage: make_stream.py KIND FILE
  bad-pmt    service 1's PMT has an ES descriptor loop longer than its section
  pat-drops  half-way through (0.16 s) a new PAT carries service 2 alone
"""
import sys

counters = {}


def crc32(data):
    crc = 0xFFFFFFFF
    for byte in data:
        crc ^= byte << 24
        for _ in range(8):
            crc = (crc << 1) ^ 0x04C11DB7 if crc & 0x80000000 else crc << 1
    return crc & 0xFFFFFFFF


def section(table_id, extension, version, body):
    head = bytes([table_id, 0xB0, 0, extension >> 8, extension & 0xFF, 0xC1 | version << 1, 0, 0])
    whole = bytearray(head + body + b"\0\0\0\0")
    whole[1] |= (len(whole) - 3) >> 8
    whole[2] = (len(whole) - 3) & 0xFF
    return bytes(whole[:-4]) + crc32(whole[:-4]).to_bytes(4, "big")


def packet(pid, payload, start=False):
    counter = counters.get(pid, 0)
    counters[pid] = (counter + 1) % 16
    head = bytes([0x47, (0x40 if start else 0) | pid >> 8, pid & 0xFF, 0x10 | counter])
    data = (b"\0" if start else b"") + payload
    return head + data + b"\xff" * (184 - len(data))


def pat(version, programs):
    body = b"".join(p.to_bytes(2, "big") + (0xE000 | pmt).to_bytes(2, "big") for p, pmt in programs)
    return packet(0, section(0x00, 1, version, body), True)


def pmt(program, pid, es_info_length=0):
    body = (0xE000 | pid + 1).to_bytes(2, "big") + b"\xf0\x00"
    body += bytes([0x03]) + (0xE000 | pid + 1).to_bytes(2, "big") + (0xF000 | es_info_length).to_bytes(2, "big")
    return packet(pid, section(0x02, program, 0, body), True)


def sdt():
    body = b"\x00\x01\xff"
    for service, name in ((1, b"One"), (2, b"Two")):
        descriptor = bytes([0x48, 3 + len(name) + 4, 0x01, 4]) + b"Test" + bytes([len(name)]) + name
        body += service.to_bytes(2, "big") + b"\xfc" + (0x8000 | len(descriptor)).to_bytes(2, "big") + descriptor
    return packet(0x11, section(0x42, 1, 0, body), True)


def main(kind, path):
    both = [(1, 0x100), (2, 0x200)]
    bad = 40 if kind == "bad-pmt" else 0  # past the end of the section
    out = bytearray()
    rounds = 160  # of 50 packets: 8,000 packets, 0.3 s at the stand-in card's rate
    for round_ in range(rounds):
        late = kind == "pat-drops" and round_ >= rounds // 2
        out += pat(1 if late else 0, both[1:] if late else both) + sdt()
        out += pmt(1, 0x100, bad) + pmt(2, 0x200)
        for i in range(46):
            out += packet(0x101 if i % 2 else 0x201, bytes([round_ & 0xFF]) * 184)
    open(path, "wb").write(out)


main(*sys.argv[1:])
