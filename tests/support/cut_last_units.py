#!/usr/bin/env python3
# Writes a capture without each PID's packets from its last payload start on:
# the last picture or sound of each stream, which the capture's end may have
# cut short, so that a decoder reads only whole ones.
# Usage: cut_last_units.py CAPTURE OUT
import sys

data = open(sys.argv[1], "rb").read()
packets = [data[i:i + 188] for i in range(0, len(data) - len(data) % 188, 188)]
pid = lambda packet: ((packet[1] & 0x1F) << 8) | packet[2]
last_start = {pid(p): n for n, p in enumerate(packets) if p[1] & 0x40}
kept = [p for n, p in enumerate(packets) if n < last_start.get(pid(p), len(packets))]
open(sys.argv[2], "wb").write(b"".join(kept))
