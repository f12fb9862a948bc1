"""The real program as a time server for other machines: every client of a
burst gets four correct bytes, a client that resets at once harms nothing, and
the status line names whom it served."""
import os
import socket
import struct
import threading
import time
import unittest

import harness

WINDOW, STATUS = "PENDULARK", 1000
NTP_EPOCH = 2208988800


def ask(timeout=30):
    """The four bytes of port 37 on loopback, or what came before the close."""
    with socket.create_connection(("127.0.0.1", 37), timeout=timeout) as s:
        data = b""
        while True:
            chunk = s.recv(16)
            if not chunk:
                return data
            data += chunk


class PendularkTimeServer(unittest.TestCase):
    def setUp(self):
        directory = harness.scratch_dir("time-server")
        with open(os.path.join(directory, "ServFile.txt"), "wb") as f:
            f.write(b"127.0.9.71\r\n")
        harness.write_settings(directory, time_server_enabled=1, sync_timeout_seconds=5)
        process = harness.start(directory, "Pendulark.exe")
        self.addCleanup(harness.finish, process, 30)
        self.assertEqual(harness.winctl("wait", WINDOW, "20000").returncode, 0)
        self.addCleanup(harness.winctl, "key", WINDOW, "0x1B")
        # The server starts with the window's initialisation.
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            try:
                if len(ask(5)) == 4:
                    return
            except OSError:
                time.sleep(0.3)
        self.fail("the time server never answered")

    def assert_now(self, data):
        self.assertEqual(len(data), 4)
        seconds = struct.unpack("!I", data)[0]
        self.assertLess(abs(seconds - (int(time.time()) + NTP_EPOCH) % 2**32), 3)

    def test_a_burst_of_200_clients_is_answered_in_full(self):
        answers, errors = [], []

        def client():
            try:
                answers.append(ask())
            except OSError as error:
                errors.append(error)

        threads = [threading.Thread(target=client) for _ in range(200)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(90)
        self.assertEqual(errors, [])
        self.assertEqual(len(answers), 200)
        for data in answers:
            self.assert_now(data)

    def test_a_client_that_resets_at_once_does_not_stop_the_server(self):
        for _ in range(5):
            s = socket.create_connection(("127.0.0.1", 37), timeout=10)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            s.close()
        self.assert_now(ask())
        status = harness.wait_for_text(WINDOW, STATUS, lambda t: t.startswith("Server Pendularked "))
        self.assertRegex(status, r"^Server Pendularked \S+$")


if __name__ == "__main__":
    unittest.main()
