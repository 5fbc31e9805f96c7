#!/usr/bin/env python3
"""Writes the seed inputs of the driver fuzz targets from the wire test
cases (the byte layouts are described in TransactCall.h, ReplayLine.h and
pollstream_fuzzer.cpp). Run from anywhere; it rewrites fuzz/corpus/."""
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))


def call(kind, station, command=10, timeout=300, value=0.0, ascii_command=None,
         writes_fail=False, no_line=False):
    flags = {"read": 0, "write": 1, "execute": 2}[kind]
    if ascii_command is not None:
        flags |= 4
    if writes_fail:
        flags |= 8
    if no_line:
        flags |= 16
    head = struct.pack("<BhBH", flags, station, command & 0xFF, (timeout - 1) % 5000)
    head += struct.pack("<f", value)
    if ascii_command is not None:
        cmd = ascii_command.encode()
        head += bytes([len(cmd)]) + cmd
    return head


def chunk(data, delay_ms=1):
    return bytes([delay_ms, len(data)]) + data


READ_FAILURE = b"\xff"
HANG_UP = b"\xfe"

good = bytes.fromhex("01030F0800000000800805")
bad_sum = bytes.fromhex("01030F0800000000800806")
transact = {
    "bus_read_one": call("read", 1, 3) + chunk(good),
    "bus_read_split": call("read", 1, 3) + chunk(good[:4]) + chunk(good[4:], 2),
    "bus_bad_checksum": call("read", 1, 3) + chunk(bad_sum) * 4,
    "bus_write_ack": call("write", 2, 5, value=1.0) + chunk(b"\x02\x06"),
    "bus_write_nak": call("write", 2, 5, value=1.0) + chunk(b"\x02\x15") * 4,
    "bus_wrong_station": call("read", 1, 3) + chunk(bytes.fromhex("02030F0800000000800805")) * 4,
    "bus_silent": call("read", 1, 10, timeout=100),
    "bus_broadcast": call("execute", 0, 103),
    "bus_short_broadcast": call("execute", -1, 103) + chunk(b"\x01\x06"),
    "bus_station_256": call("read", 256, 10),
    "bus_command_0": call("read", 1, 0),
    "bus_command_254": call("read", 1, 254),
    "bus_ack_to_read": call("read", 1, 10) + chunk(b"\x01\x06"),
    "bus_short_data": call("read", 1, 10) + chunk(good[:7]),
    "bus_long_reply": call("read", 1, 10) + chunk(good + good),
    "bus_hang_up": call("read", 1, 10) + HANG_UP,
    "bus_read_failure": call("read", 1, 10) + READ_FAILURE + chunk(good),
    "bus_no_port": call("read", 1, 10, no_line=True),
    "ascii_read": call("read", 5, ascii_command="SYS") + chunk(b"1234.5\r"),
    "ascii_read_text": call("read", 5, ascii_command="SYS") + chunk(b"abc\r"),
    "ascii_nak": call("read", 5, ascii_command="SYS") + chunk(b"?\r") * 4,
    "ascii_nak_then_more": call("read", 5, ascii_command="SYS") + chunk(b"?\rX"),
    "ascii_no_cr": call("read", 5, ascii_command="SYS", timeout=50) + chunk(b"12") * 4,
    "ascii_write_ack": call("write", 12, value=-3.25, ascii_command="W") + chunk(b"\r"),
    "ascii_write_ok": call("write", 12, value=-3.25, ascii_command="W") + chunk(b"OK\r") * 4,
    "ascii_execute": call("execute", 7, ascii_command="X") + chunk(b"\r"),
    "ascii_station_1000": call("read", 1000, ascii_command="SYS"),
    "ascii_station_minus_2": call("read", -2, ascii_command="SYS"),
    "ascii_broadcast": call("execute", 0, ascii_command="SNAP"),
    "ascii_short_broadcast": call("execute", -1, ascii_command="SNAP"),
    "ascii_no_port": call("read", 1, ascii_command="SYS", no_line=True),
    "ascii_huge_number": call("read", 1, ascii_command="SYS") + chunk(b"1e999\r"),
    "ascii_hang_up": call("read", 1, ascii_command="SYS") + chunk(b"12") + HANG_UP,
    "ascii_write_fails": call("execute", 0, ascii_command="SNAP", writes_fail=True),
}


def stream_chunk(data):
    assert len(data) < 0x7F
    return bytes([len(data)]) + data


def polls(n):
    return bytes([0x7F + n])


def repeated(data, times):
    return b"\x7f" + bytes([times - 1, len(data)]) + data


pollstream = {
    "two_lines": stream_chunk(b"12.5\r13.5\r") + polls(3),
    "split_line": stream_chunk(b"12.") + polls(1) + stream_chunk(b"5\r") + polls(1),
    "no_cr_4096": repeated(b"1" * 64, 64) + polls(2) + stream_chunk(b"\r") + polls(1),
    "long_with_cr": repeated(b"2" * 64, 64) + stream_chunk(b"\r3\r") + polls(2),
    "text_lines": stream_chunk(b"abc\r  -1e3\r\n7\r") + polls(4),
    "huge_number": stream_chunk(b"1e999\r4\r") + polls(3),
    "overflow": repeated(b"9.5\r" + b"x" * 248, 256) * 2 + polls(1),
    "backlog": stream_chunk(b"5") + polls(1) + repeated(b"1\r" * 63, 256) * 3 + polls(3),
}


def ini(text, section="Workspace", key="Title", value="New", comma=False, usb_fault=False):
    entry = section.encode() + b"\x01" + key.encode() + b"\x01" + value.encode()
    flags = (1 if comma else 0) | (2 if usb_fault else 0)
    return bytes([flags, len(entry)]) + entry + text.encode("latin-1")


default_one = ("[Workspace]\r\nTitle=Title Text\r\nNotes=\r\nPort=1\r\nBaudrate=115200\r\n"
               "Protocol=0\r\nSnap=0\r\nChannels=1\r\nlogInterval=1000\r\nlogDefault=0\r\n"
               "Station1=1\r\nCaption1=Channel 1\r\nFormat1=00.000\r\nTareValue1=0\r\n"
               "Command1=\r\n")
full = "[Workspace]\r\nTitle=Rig\r\nNotes=first|second\r\nPort=3\r\nBaudrate=9600\r\n" \
       "Protocol=1\r\nSnap=1\r\nChannels=24\r\nlogInterval=250\r\nlogDefault=-9999.5\r\n" + \
       "".join("Station%d=%d\r\nCaption%d=Load, %d\r\nFormat%d=0.00\r\nTareValue%d=%s\r\n"
               "Command%d=%s\r\n" % (i, i, i, i, i, i, ["0", "1.25", "-0.001", "1E+07"][i % 4],
                                       i, ["", "SUM", "7", "sys"][i % 4]) for i in range(1, 25))
workspace = {
    "default_one_channel": ini(default_one),
    "full_24": ini(full, key="Channels", value="2"),
    "full_24_comma": ini(full.replace("1.25", "1,25").replace("9999.5", "9999,5"), comma=True),
    "log_interval_250": ini("[Workspace]\r\nlogInterval=250\r\n", key="LogInterval", value="300"),
    "notes_pipe": ini("[Workspace]\r\nNotes=first|second|typed \"|\"\r\n", key="Notes",
                      value="a\r\nb"),
    "empty_texts": ini("[Workspace]\r\nTitle=\r\nChannels=1\r\nCaption1=\r\nFormat1=\r\n"),
    "long_notes": ini("[Workspace]\r\nNotes=" + "n" * 300 + "\r\n", key="Notes", value="x" * 200),
    "channels_0": ini("[Workspace]\r\nChannels=0\r\n"),
    "channels_negative": ini("[Workspace]\r\nChannels=-5\r\n"),
    "channels_empty": ini("[Workspace]\r\nChannels=\r\n"),
    "channels_30000": ini("[Workspace]\r\nChannels=30000\r\n"),
    "bad_numbers": ini("[Workspace]\r\nPort=abc\r\nChannels=3\r\nStation3=abc\r\n"
                       "Baudrate=99999999999\r\nTareValue1=1e99\r\nlogDefault=2.5.5\r\n"),
    "only_channels_2": ini("[Workspace]\r\nChannels=2\r\n"),
    "usb_fault": ini("[Workspace]\r\nProtocol=2\r\n", usb_fault=True),
    "ini_rules": ini("; comment\n[other]\nTitle=no\n\n[WORKSPACE]\n  title =  \"quoted\"  \n"
                     "junk line\nTITLE=second\nport='7'\nnotes=*NULL*\n[Workspace]\nSnap=1",
                     section="workspace", key="PORT", value="8"),
    "new_section": ini("[Workspace]\r\nTitle=x\r\n", section="LogFiles", key="InitDir",
                       value="/home/op/Tarnvik Logs"),
    "binary": ini("[Workspace]\r\nTitle=\x00\xff\x80bin\r\n\x00=\x01\r\n[\r\n=\r\n",
                  key="Caption1", value=" \"padded\" "),
    "halves": ini("[Workspace]\r\nPort=2.5\r\nSnap=0.5\r\nChannels=3.5\r\nStation1=-2.5\r\n"),
}


def write(folder, cases):
    path = os.path.join(here, "corpus", folder)
    os.makedirs(path, exist_ok=True)
    for name, data in cases.items():
        with open(os.path.join(path, name), "wb") as f:
            f.write(data)


write("transact_fuzzer", transact)
write("pollstream_fuzzer", pollstream)
write("ini_workspace_fuzzer", workspace)
