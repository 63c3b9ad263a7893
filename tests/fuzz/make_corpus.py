#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpus, tests/fuzz/corpus/<target>/, from the inputs below.

Each target's input layout is described at the top of its <target>_fuzz.cpp; the seeds are
a few meaningful inputs in that layout, from which the fuzzer starts. Run it again after
changing a layout or a seed, and commit what it writes.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# net_flags
CLIENT, SERVER = 0x01, 0x02
LETTER_PADDLE = 0x20
REMOTE_SIDE, CONTROL_POINT = 0x40, 0x80


def packet(kind, value=0, payload=b""):
    return bytes([0xA5, ord(kind) if isinstance(kind, str) else kind, value, 0]) + \
        payload.ljust(16, b"\0")


def reads(stream, sizes=(20,), action=0):
    """The stream cut into reads of the given sizes, repeated (each read at most 31 bytes)."""
    out = b""
    at = 0
    i = 0
    while at < len(stream):
        size = sizes[i % len(sizes)]
        chunk = stream[at:at + size]
        out += bytes([(action << 5) | len(chunk)]) + chunk
        at += size
        i += 1
    return out


def text(chars):
    return b"".join(packet('"', c) for c in chars)


KEYS, TIMER, BOTH, ENDS, FLOOD = 4, 5, 6, 7, 3


def packet_stream():
    settings_block = bytes([0x44, 25, 5, 50, 0, 0, 5, 20, 0, 0, 0, 50, 50, 0, 0])
    return {
        # A RemoteSide server with its keyer: text from the ControlPoint, the keyer keying.
        "remote_side_text": bytes([SERVER | REMOTE_SIDE, 0x03]) +
        reads(text(b"CQ CQ DE TEST")) + bytes([KEYS << 5]) + reads(text(b" K")),
        # A ControlPoint client hears its server: version, echoes, status, heartbeat answers.
        "control_point_replies": bytes([CLIENT | CONTROL_POINT, 0x01]) + reads(
            packet("3", 23) + packet("4", ord("C")) + packet("4", ord("Q")) +
            packet("6", 0x05) + packet("6", 0x12) + packet("6", 0x00) +
            packet("7", 0) + packet("7", 1)),
        # Every command a server's keyer takes, in reads cut anywhere.
        "server_commands": bytes([SERVER | REMOTE_SIDE, 0x0F]) + reads(
            packet("!") + packet("&", 7) + packet("%", 25) + packet("(", 1) + packet("(", 0) +
            packet(")", 1) + packet(")", 0) + packet("8", 2) + packet("8", 0) +
            packet("$", 0, settings_block) + packet("'") + packet("*"),
            sizes=(7, 13, 1, 19, 31, 20)),
        # Buffered commands in the text: speed 25, PTT on, Merge A R, a backspace.
        "buffered_commands": bytes([SERVER | REMOTE_SIDE, 0x03]) + reads(
            text([0x1C, 25, 0x18, 1]) + text(b"\x1bAR") + text(b"E") + packet("*")) +
        bytes([BOTH << 5]),
        # What a broken peer sends: wrong markers, unused types, a client asked for its version.
        "bad_packets": bytes([CLIENT | CONTROL_POINT, 0x01]) + reads(
            bytes([0x5A, 0x22, 0x41, 0]) + bytes(16) + packet(0x23, 1) + packet(0x35, 2) +
            packet(0x00) + packet(0xFF, 0xFF) + packet("!"), sizes=(3, 17, 20)) +
        bytes([5, 0xA5, 0x22, 0x41, 0, 0]) + bytes([ENDS << 5]),
        # Floods of text at a keyer that keys nothing: the queue fills, the backlog takes what
        # it can and the station holds its sender back; the rest is lost, and said so once,
        # at a text byte or in the middle of a Merge and its two characters.
        "text_flood": bytes([SERVER | REMOTE_SIDE, 0x03]) +
        (bytes([(FLOOD << 5) | 20]) + packet('"', ord("E"))) * 17 + bytes([TIMER << 5]),
        "merge_flood": bytes([SERVER | REMOTE_SIDE, 0x03]) +
        (bytes([(FLOOD << 5) | 20]) + packet('"', 0x1B)) * 17 + bytes([BOTH << 5]) +
        reads(text(b"AR")),
    }


def message_text():
    def message(net_flags, state, number, *slots):
        """Message `number` (1 to 6) sent; its slot and the ones after it as given."""
        return bytes([net_flags, state, number - 1]) + b"".join(
            slot.ljust(256, b"\0")[:256] for slot in slots)
    local, linked = 0x02, 0x03
    return {
        "plain_text_local": message(0, local, 1, b"cq cq de test [S25]test[X] k"),
        "every_token_linked": message(CLIENT | CONTROL_POINT, linked, 2,
                                      b"[P][N][M]ar[X][S25][K05][W10][H99] de [s18][p]k[n]"),
        # Wrong tokens: an unknown letter, a token that does not close, a cut-short one.
        "wrong_tokens": message(0, local, 3, b"[Q]A[S5]A[w1"),
        # A slot filled to its end without a terminator, as a file may hold it, and the next.
        "full_slot": message(0, local, 5, b"A" * 256, b"[W1"),
        # Raw bytes: a buffered command as text, bytes above 0x80, a new line.
        "raw_bytes": message(0, local, 4, b"\x1c\x19abc\r\n\x80\xff"),
        "no_keyer_linked": message(CLIENT | CONTROL_POINT, 0x01, 6, b"de [S20]test"),
    }


def keyer_bytes():
    paddles = bytes([0xDC, 0xDD, 0xDE, 0xDF, 0xFF])
    return {
        # Alone with an extended keyer and the pot in charge: pot, break-in, wait, M1 pressed
        # and released, an echo, the paddles.
        "local_extended": bytes([0, 0x06, 10]) +
        bytes([0x85, 0xC6, 0xD0, 0xC9, 0xC8, 0x41]) + b"CQ" + paddles,
        "remote_side_linked": bytes([SERVER | REMOTE_SIDE, 0x03, 5]) +
        b"CQ DE TEST" + bytes([0xC4, 0xC0, 0xC1, 0xC0]) + paddles,
        "control_point_letter_paddle": bytes([CLIENT | CONTROL_POINT | LETTER_PADDLE, 0x07, 10]) +
        paddles + bytes([0x8F, 0xCA]) + b"TEST",
        "converse_base_keyer": bytes([SERVER, 0x01, 5]) + bytes([0xC8, 0xCC, 0xD8]) + b"E" + paddles,
        "status_flood": bytes([CLIENT | CONTROL_POINT, 0x0A, 5]) + bytes([0xC5, 0xC0]) * 100,
    }


def settings_record(open_at_startup=1, net_flags=SERVER | REMOTE_SIDE, messages=()):
    keyer = bytes([0x44, 25, 0x45 if open_at_startup else 5, 50, 0, 0, 5, 20,
                   0, 0, 0, 50, 50, 0x05, 0])
    record = struct.pack("<IIII", 0x55, 3, open_at_startup, 1) + keyer + b"\0"
    record += struct.pack("<I", net_flags) + b"192.168.1.20".ljust(256, b"\0")
    record += struct.pack("<I", 7373)
    for i in range(6):
        record += (messages[i] if i < len(messages) else b"").ljust(256, b"\0")
    assert len(record) == 1832
    return record


def config_file():
    record = settings_record(messages=(b"cq cq de test [S25]test[X] k", b"[P]qrl?[N]",
                                       b"[K05][W10][H99][M]ar", b"tu 73"))
    no_terminators = bytearray(record)
    no_terminators[36:292] = b"h" * 256
    no_terminators[296:1832] = b"m" * 1536
    return {
        "site_server": record,
        "short_100_bytes": record[:100],
        "wrong_marker": b"\x55\x01" + record[2:],
        "oversized": record + b"\xff" * 300,
        "texts_without_terminator": bytes(no_terminators),
        "empty": b"",
    }


def ini_file():
    site = (b"; the site's own settings\r\n[Network]\r\nAllowFrom = 192.168.1.0/24, 203.0.113.7\r\n"
            b"\r\n[Safety]\r\nTuneLimitSeconds = 20\r\nPaddleLimitSeconds = 0\r\n")
    return {
        "site": site,
        "bom_lf_any_case": b"\xef\xbb\xbf# LF only\n[ network ]\nallowfrom=any\n[SAFETY]\n"
        b"tunelimitseconds = 45\ntunelimitseconds = 10\n",
        # What an operator gets wrong: a heading without its bracket, a line without a key,
        # values out of range, an inline comment, control bytes.
        "mistakes": b"[Safety\nTuneLimitSeconds = 5\n[Safety]\nPaddleLimitSeconds = -1\n"
        b"TuneLimitSeconds = 99999999999 ; long\n= 3\njunk\x01\t\n[Network]\n"
        b"AllowFrom = 10.1, 010.0.0.1/8,,\n[]\n",
        "empty": b"",
    }


def main():
    for target, seeds in (("packet_stream", packet_stream()), ("message_text", message_text()),
                          ("keyer_bytes", keyer_bytes()), ("config_file", config_file()),
                          ("ini_file", ini_file())):
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as file:
                file.write(data)


if __name__ == "__main__":
    main()
