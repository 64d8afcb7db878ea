#!/usr/bin/env python3
"""The far end of the Wine serial test: a pty whose master plays the station.

Writes the slave's path to PATH_FILE, waits (bounded) for the size request
frame on the master, answers with a size response frame, then keeps the
master open until it is terminated or DEADLINE seconds have passed: closing it
early would hang the line up and throw away bytes not yet read.
Usage: pty_station.py PATH_FILE REPLY_FILE [DEADLINE]
Exit code 0 once the request was seen and answered, 1 otherwise.
"""
import os
import select
import signal
import sys
import time
import tty

REQUEST = bytes([0x7F, 0x80, 0x03, 0x01, 0x00, 0x10, 0x91, 0x8C, 0x00, 0x00, 0x7F])
FLAG, ESCAPE = 0x7F, 0x7D


def fcs16(data):
    fcs = 0xFFFF
    for byte in data:
        fcs ^= byte
        for _ in range(8):
            fcs = (fcs >> 1) ^ 0x8408 if fcs & 1 else fcs >> 1
    return fcs ^ 0xFFFF


def frame(address, info):
    fcs = fcs16(info)
    body = bytes([address, 0x03]) + info + bytes([fcs & 0xFF, fcs >> 8]) + b"\x00\x00"
    escaped = bytearray()
    for byte in body:
        if byte in (FLAG, ESCAPE):
            escaped += bytes([ESCAPE, byte ^ 0x20])
        else:
            escaped.append(byte)
    return bytes([FLAG]) + bytes(escaped) + bytes([FLAG])


def main():
    global answered
    path_file, reply_file = sys.argv[1], sys.argv[2]
    deadline = time.monotonic() + (float(sys.argv[3]) if len(sys.argv) > 3 else 60.0)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0 if answered else 1))
    master, slave = os.openpty()
    tty.setraw(slave)  # no echo of the request back to the sender
    assert fcs16(REQUEST[3:6]) == 0x8C91, "FCS reference"
    reply = frame(0x01, bytes([0x01, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00]))  # image size 1024
    with open(reply_file, "w") as f:
        f.write(reply.hex())
    with open(path_file + ".tmp", "w") as f:
        f.write(os.ttyname(slave))
    os.rename(path_file + ".tmp", path_file)

    received = bytearray()
    while time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], max(0.0, deadline - time.monotonic()))
        if not ready:
            break
        try:
            chunk = os.read(master, 4096)
        except OSError:  # no slave open yet (EIO): Wine has not opened the port
            time.sleep(0.05)
            continue
        received += chunk
        print("station: received", chunk.hex(" "), flush=True)
        if not answered and REQUEST in received:
            os.write(master, reply)
            answered = True
            print("station: sent", reply.hex(" "), flush=True)
    if not answered:
        print("station: no size request within the deadline; got", received.hex(" "), flush=True)
    sys.exit(0 if answered else 1)


answered = False
if __name__ == "__main__":
    main()
