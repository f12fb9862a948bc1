"""The real program as a time server for other machines: every client of a
burst gets four correct bytes, a client that resets at once harms nothing, the
status line names whom it served, and a sync cycle keeps nobody waiting."""
import re
import socket
import struct
import threading
import time
import unittest

import harness
from harness import WINDOW, ask_time_server, ids

NTP_EPOCH = 2208988800
LIST_SERVER = "127.0.9.71"


class PendularkTimeServer(unittest.TestCase):
    def start(self, **settings):
        harness.open_pendulark(self, "time-server", servers=[LIST_SERVER],
                               settings={"time_server_enabled": 1, "sync_timeout_seconds": 5, **settings})
        # The server starts with the window's initialisation.
        harness.wait_until(harness.time_server_answers, 20, "the time server never answered")

    def assert_now(self, data):
        self.assertEqual(len(data), 4)
        seconds = struct.unpack("!I", data)[0]
        self.assertLess(abs(seconds - (int(time.time()) + NTP_EPOCH) % 2**32), 3)

    def test_a_burst_of_200_clients_is_answered_in_full(self):
        self.start()
        answers, errors = [], []

        def client():
            try:
                answers.append(ask_time_server())
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

    def test_an_ipv6_client_is_answered_as_an_ipv4_one(self):
        self.start()
        self.assert_now(ask_time_server(host="::1"))
        harness.wait_for_text(WINDOW, ids.IDT_MAIN_STATUS, lambda text: text == "Server Pendularked [::1]")

    def test_a_client_that_resets_at_once_does_not_stop_the_server(self):
        self.start()
        for _ in range(5):
            s = socket.create_connection(("127.0.0.1", 37), timeout=10)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            s.close()
        self.assert_now(ask_time_server())
        harness.wait_for_text(WINDOW, ids.IDT_MAIN_STATUS, r"Server Pendularked \S+")

    def test_a_client_is_answered_at_once_while_a_sync_cycle_waits(self):
        # The list server is up first and hears SNTP only: the program's own
        # server waits for UDP 123 and serves port 37, which nobody else holds.
        reference = harness.ReferenceServer(LIST_SERVER, mode="silent", time_protocol=False)
        self.addCleanup(reference.close)
        self.start(protocol=harness.PROTOCOL_SNTP, sync_timeout_seconds=30)
        harness.winctl("click", WINDOW, ids.IDB_MAIN_CHECK)
        waiting = harness.wait_for_text(WINDOW, ids.IDT_MAIN_STATUS,
                                        "Waiting for reply from " + re.escape(LIST_SERVER))
        self.assert_now(ask_time_server(2))
        # Still waiting: the cycle keeps the line, and the server's report waits for it.
        self.assertEqual(harness.control_text(WINDOW, ids.IDT_MAIN_STATUS), waiting)
        self.assertEqual(reference.count("sntp"), 1)


if __name__ == "__main__":
    unittest.main()
