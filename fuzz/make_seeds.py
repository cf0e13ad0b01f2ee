#!/usr/bin/env python3
"""Writes the seed corpora: sound reply frames for each export, request frames for padsim,
and typical settings and key store files. Run from the repository's top directory."""
import os

def frame(status, data=b""):
    body = b"%03d" % (len(data) + 1) + bytes([status]) + data + b"\x03"
    check = 0
    for b in body:
        check ^= b
    return b"\x02" + body + b"%02X" % check

def put(target, name, data):
    d = os.path.join("fuzz", "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)

# Export index -> (command byte, typical reply data).
EXPORTS = {
    0: ("3", b"PADSIM01SIM731R4K11026120001" + b" " * 20), 1: ("3", b""), 2: ("4", b""),
    3: ("5", b""), 4: (None, b"*"), 5: ("1", b"1234ABCD"), 6: ("2", b"1234ABCD"),
    7: (":", b"0123456789ABCDEF0123456789ABCDEF"), 8: (":", b"0123456789ABCDEF0123456789ABCDEF"),
    9: (":", b"0123456789ABCDEF0123456789ABCDEF"), 10: ("6", b""),
    11: ("7", b"0123456789ABCDEF"), 12: ("8", b"0123456789ABCDEF"),
    13: ("9", b"0123456789ABCDEF"), 14: ("@", b"0000" + b"3B6800000073C84013009000"),
    15: ("A", b"0009000"), 16: (";", b""),
}
for index, (command, data) in EXPORTS.items():
    if command is None:
        put("driver_reply_fuzz", "export%02d" % index, bytes([index]) + data)
        continue
    ok = frame(ord(command) + 0x30, data)
    put("driver_reply_fuzz", "export%02d_ok" % index, bytes([index]) + ok)
    put("driver_reply_fuzz", "export%02d_hangup" % index, bytes([index | 0x80]) + ok[:7])
    put("driver_reply_fuzz", "export%02d_status" % index, bytes([index]) + frame(0x41))
    put("driver_reply_fuzz", "export%02d_noise" % index, bytes([index]) + b"\x02\x7f" + ok + ok)

def request(command, payload=b""):
    return frame(ord(command), payload)

def chunks(data):
    out = b""
    while data:
        piece, data = data[:63], data[63:]
        out += bytes([len(piece) << 2]) + piece
    return out

REQUESTS = [
    ("custinfo_read", request("3")), ("custinfo_write", request("3", b"INFO")),
    ("keyboard", request("4", b"0123456789")), ("control", request("5", b"032")),
    ("clear_key", request("1", b"00" + b"0123456789ABCDEF")),
    ("pin_start", request("6", b"0612")), ("pin_value", request("7", b"")),
    ("mac", request("8", b"010" + b"12345678")), ("data", request("9", b"00" + b"0123456789ABCDEF")),
    ("auth_init", request(":", b"80" + b"0123456789ABCDEF")), ("challenge", request(":", b"A0")),
    ("card_control", request("@", b"1")), ("card_access", request("A", b"00A4040000")),
    ("display", request(";", b"0HELLO")),
]
for name, req in REQUESTS:
    put("padsim_frame_fuzz", name, chunks(req))
# A PIN entry with key presses and an entry time-out.
put("padsim_frame_fuzz", "pin_keys", chunks(request("6", b"0612")) + b"\x021\x022\x023\x024\x02\x0d"
    + chunks(request("7")) + b"\xff")

put("profile_fuzz", "sysconfig", b"[PORTS]\r\nCOM1=/dev/ttyUSB0\r\n[SYSTEM]\r\nDEBUG=1\r\nTIMEOUT=32\r\n")
put("profile_fuzz", "keystock", b"\xef\xbb\xbf[KEY]\nK1=\"0123456789ABCDEF\"\n; note\nk2 = FEDCBA9876543210\n[fuzz]\nk1=x\n")
put("profile_fuzz", "empty", b"")
