#!/usr/bin/env python3
"""Reference time servers for loopback: SNTP on UDP 123 and the Time Protocol
(RFC 868) on TCP 37, on one 127.x.y.z address, recording every request.

Modes shape the answers, to test a client's checks:
  normal  the host's clock plus `offset` seconds
  kod     an SNTP kiss-o'-death (stratum 0); Time Protocol answers normally
  zero    an all-zero SNTP reply; a Time Protocol reply of 0
  split   the Time Protocol reply sent one byte, then the other three
  close   TCP accepted and closed at once; SNTP requests go unanswered
  silent  requests are read and never answered
  late    SNTP answered after LATE_SECONDS; Time Protocol answers normally
  originate  an SNTP reply whose originate timestamp is a second off the request's
  short   an SNTP reply cut to 24 bytes
  rotate  each SNTP request gets the next answer of ROTATION; at "refused" nothing
          answers on the port for `refuse_seconds`, so that a client's next cycle
          hears "port unreachable". `answers` lists each request's answer, and "refused"

Run as a program it serves until interrupted:
  reference_server.py [--address 127.0.0.1] [--offset SECONDS] [--mode MODE]
"""
import argparse
import socket
import struct
import threading
import time

NTP_EPOCH = 2208988800  # 1900-01-01 to 1970-01-01, in seconds
LOOPBACK = ("127.", "::1")
MODES = ("normal", "kod", "zero", "split", "close", "silent", "late", "originate", "short", "rotate")
# A short run meets a success, a refusal and a rejected reply first.
ROTATION = ("normal", "refused", "kod", "late", "silent", "originate", "short")
LATE_SECONDS = 3.0  # well inside any client's time-out


def protocol_seconds(unix_time):
    return int(unix_time + NTP_EPOCH) & 0xFFFFFFFF


def ntp_timestamp(unix_time):
    seconds = protocol_seconds(unix_time)
    fraction = int((unix_time % 1) * 2**32) & 0xFFFFFFFF
    return struct.pack("!II", seconds, fraction)


class ReferenceServer:
    def __init__(self, address="127.0.0.1", mode="normal", offset=0.0, sntp=True, time_protocol=True,
                 dispersion=0.0, reference=None):
        """dispersion: the root dispersion its SNTP replies claim, in seconds; reference:
        when its clock was last set (Unix time, its own clock's), 16 s before it starts
        unless given. One host at two addresses is two of these given the same one."""
        if not address.startswith(LOOPBACK):
            raise ValueError("reference servers listen on loopback only")
        self.address, self.mode, self.offset = address, mode, offset
        self.dispersion = min(int(dispersion * 65536), 0xFFFFFFFF)
        self.reference = self.now() - 16 if reference is None else reference
        self.family = socket.AF_INET6 if ":" in address else socket.AF_INET
        self.requests = []  # ("sntp", bytes) or ("time", b"")
        self.answers, self.refuse_seconds, self._turn = [], 90.0, 0
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._sockets, self._threads = [], []
        if sntp:
            self._serve(self._udp(), self._sntp_loop)
        if time_protocol:
            tcp = socket.socket(self.family, socket.SOCK_STREAM)
            tcp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            tcp.bind((address, 37))
            tcp.listen(8)
            self._serve(tcp, self._time_loop)

    def _udp(self):
        udp = socket.socket(self.family, socket.SOCK_DGRAM)
        udp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        udp.bind((self.address, 123))
        return udp

    def _serve(self, sock, loop):
        sock.settimeout(0.2)
        self._sockets.append(sock)
        thread = threading.Thread(target=loop, args=(sock,), daemon=True)
        thread.start()
        self._threads.append(thread)

    def _record(self, kind, data):
        with self._lock:
            self.requests.append((kind, data))

    def now(self):
        return time.time() + self.offset

    def sntp_reply(self, request, arrived=None, answer=None):
        """The reply; T2 is the request's arrival when given, T3 the moment of sending."""
        answer = answer or self.mode
        if answer == "zero":
            return bytes(48)
        stratum = 0 if answer == "kod" else 1
        header = (struct.pack("!BBbbII", 0x24, stratum, 6, -20, 0, self.dispersion) +
                  (b"RATE" if answer == "kod" else b"LOOP"))
        received = ntp_timestamp(self.now() if arrived is None else arrived)
        reference = ntp_timestamp(self.reference)
        originate = request[40:48]
        if answer == "originate":
            originate = struct.pack("!Q", (int.from_bytes(originate, "big") + 2**32) % 2**64)
        reply = header + reference + originate + received + ntp_timestamp(self.now())
        return reply[:24] if answer == "short" else reply

    def _next_answer(self):
        """This request's answer, and whether the port closes after it."""
        if self.mode != "rotate":
            return self.mode, False
        with self._lock:
            answer = ROTATION[self._turn % len(ROTATION)]
            self.answers.append(answer)
            self._turn += 1
            refuse_next = ROTATION[self._turn % len(ROTATION)] == "refused"
            if refuse_next:
                self.answers.append("refused")
                self._turn += 1
        return answer, refuse_next

    def _sntp_loop(self, sock):
        while not self._stop.is_set():
            try:
                request, peer = sock.recvfrom(512)
            except (socket.timeout, OSError):
                continue
            arrived = self.now()
            self._record("sntp", request)
            answer, refuse_next = self._next_answer()
            if answer not in ("close", "silent") and len(request) >= 48:
                if answer == "late":
                    self._stop.wait(LATE_SECONDS)
                sock.sendto(self.sntp_reply(request, arrived, answer), peer)
            if refuse_next:
                sock = self._refuse(sock)

    def _refuse(self, sock):
        """Refuses every request for a while; returns the socket to serve on next. The
        port stays bound, so that no server on the wildcard address takes it meanwhile:
        connected to a peer that never sends, the socket takes no one else's datagrams."""
        sock.connect((self.address, 9))
        if self._stop.wait(self.refuse_seconds):
            return sock
        fresh = self._udp()  # bound beside the old socket before that one lets go
        fresh.settimeout(0.2)
        self._sockets[self._sockets.index(sock)] = fresh
        sock.close()
        return fresh

    def _time_loop(self, sock):
        while not self._stop.is_set():
            try:
                peer, _ = sock.accept()
            except (socket.timeout, OSError):
                continue
            self._record("time", b"")
            threading.Thread(target=self._answer_time, args=(peer,), daemon=True).start()

    def _answer_time(self, peer):
        with peer:
            if self.mode == "close":
                return
            if self.mode == "silent":
                self._stop.wait(30)
                return
            value = 0 if self.mode == "zero" else protocol_seconds(self.now())
            reply = struct.pack("!I", value)
            if self.mode == "split":
                peer.sendall(reply[:1])
                time.sleep(0.05)
                reply = reply[1:]
            peer.sendall(reply)
            time.sleep(0.05)

    def count(self, kind):
        with self._lock:
            return sum(1 for k, _ in self.requests if k == kind)

    def close(self):
        self._stop.set()
        for thread in self._threads:
            thread.join(timeout=2)
        for sock in self._sockets:
            sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--address", default="127.0.0.1")
    parser.add_argument("--offset", type=float, default=0.0)
    parser.add_argument("--mode", default="normal", choices=MODES)
    args = parser.parse_args()
    with ReferenceServer(args.address, args.mode, args.offset) as server:
        print(f"reference time server on {args.address} (SNTP 123, Time Protocol 37), mode {args.mode}", flush=True)
        try:
            while True:
                time.sleep(1)
        except KeyboardInterrupt:
            pass
        print(f"served {server.count('sntp')} SNTP and {server.count('time')} Time Protocol requests")


if __name__ == "__main__":
    main()
