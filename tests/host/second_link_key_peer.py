#!/usr/bin/env python3
"""A home written apart from the program, from the link key's page alone, against the native
site: it proves the key, keys the site's emulated keyer through sealed packets, and checks the
tag of every packet the site sends it. Python's own HMAC and SHA-256, no code of the program.

usage: second_link_key_peer.py PELLMAR_SITE KEYER_SIM
"""
import hashlib
import hmac
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time

MARKER = 0xA5
CHALLENGE, PROOF, TAG = 0x2B, 0x2C, 0x2D
VERSION_REQUEST, TEXT_CHAR, HEARTBEAT = 0x21, 0x22, 0x26
VERSION_REPLY, ECHO_CHAR, HEARTBEAT_REPLY = 0x33, 0x34, 0x37


def packet(kind, value, payload=b""):
    return bytes([MARKER, kind, value, 0]) + payload.ljust(15, b"\0") + b"\0"


def mac(key, message):
    return hmac.new(key, message, hashlib.sha256).digest()


class Home:
    def __init__(self, port, key):
        self.key = key
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.nonce = os.urandom(15)
        self.sent = 0
        self.heard = 0

    def receive(self):
        data = b""
        while len(data) < 20:
            chunk = self.sock.recv(20 - len(data))
            if not chunk:
                raise AssertionError("the site closed the link")
            data += chunk
        return data

    def prove(self):
        self.sock.sendall(packet(CHALLENGE, 1, self.nonce))
        challenge = self.receive()
        assert challenge[:4] == bytes([MARKER, CHALLENGE, 1, 0]), challenge.hex()
        server_nonce = challenge[4:19]
        proof = mac(self.key, b"pellmar link key 1" + b"C" + server_nonce + self.nonce)
        self.sock.sendall(packet(PROOF, 1, proof[:15]))
        answer = self.receive()
        expected = mac(self.key, b"pellmar link key 1" + b"S" + self.nonce + server_nonce)
        assert answer == packet(PROOF, 1, expected[:15]), "the site's proof: " + answer.hex()
        self.link_key = mac(self.key, b"pellmar link seal 1" + server_nonce + self.nonce)

    def tag(self, role, count, body):
        return mac(self.link_key, role + count.to_bytes(8, "big") + body)[:15]

    def send(self, kind, value):
        body = packet(kind, value)
        self.sock.sendall(body + packet(TAG, 1, self.tag(b"C", self.sent, body)))
        self.sent += 1

    def next_sealed(self):
        body, tag = self.receive(), self.receive()
        assert tag == packet(TAG, 1, self.tag(b"S", self.heard, body)), "a tag that fails"
        self.heard += 1
        return body

    def wait_for(self, kind, value, seconds=10):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            body = self.next_sealed()
            if body[1] == kind and (value is None or body[2] == value):
                return body
        raise AssertionError("no sealed packet %02x came" % kind)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_file(path, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if os.path.exists(path) and os.path.getsize(path) > 0:
            return open(path).read().strip()
        time.sleep(0.05)
    raise AssertionError(path + " never came")


def main(site, keyer_sim):
    key = os.urandom(32)
    with tempfile.TemporaryDirectory() as folder:
        pty_file = os.path.join(folder, "pty")
        config = os.path.join(folder, "pellmar.cfg")
        port = free_port()
        sim = subprocess.Popen([keyer_sim, "--pty-file", pty_file, "--speedup", "50"])
        station = None
        try:
            device = wait_for_file(pty_file)
            subprocess.run([site, "config", "set", "--config", config, "Network I/F",
                            "Net Server", "Role", "RemoteSide", "IP Addr Override", "on",
                            "IP Address", "127.0.0.1", "IP Port", str(port)],
                           check=True, stdout=subprocess.DEVNULL)
            with open(os.path.join(folder, "pellmar.ini"), "w") as ini:
                ini.write("[Network]\nKey = %s\n" % key.hex())
            os.chmod(os.path.join(folder, "pellmar.ini"), 0o600)
            out = open(os.path.join(folder, "out"), "w")
            station = subprocess.Popen([site, "--config", config, "--keyer", device],
                                       stdout=out, stderr=subprocess.STDOUT)
            home = None
            deadline = time.monotonic() + 10
            while home is None:
                try:
                    home = Home(port, key)
                except OSError:
                    if time.monotonic() > deadline:
                        raise
                    time.sleep(0.1)
            home.prove()
            home.send(HEARTBEAT, 1)
            home.wait_for(HEARTBEAT_REPLY, 1)
            home.send(VERSION_REQUEST, 0)
            home.wait_for(VERSION_REPLY, None)
            for character in b"TEST":
                home.send(TEXT_CHAR, character)
            for character in b"TEST":
                home.wait_for(ECHO_CHAR, character)
            print("linked, proved both ways, keyed TEST and heard its sealed echo")
        finally:
            if station is not None:
                station.send_signal(signal.SIGTERM)
                station.wait(10)
                print(open(os.path.join(folder, "out")).read())
            sim.terminate()
            sim.wait(10)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
