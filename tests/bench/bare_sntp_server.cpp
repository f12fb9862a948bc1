// The least an SNTP server can do: receive a request and send back 48 bytes
// with its transmit time as originate and the clock as receive and transmit
// times. Under Wine every socket call goes through the Wine server, so this
// loop is the ceiling there that the bench sets Pendulark's SNTP side against.
//   bare_sntp_server.exe PORT REQUESTS
// Listens on 127.0.0.1:PORT and exits after REQUESTS replies, or when its input ends.
#include "bare_server.h"
#include "ntp_clock.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: bare_sntp_server PORT REQUESTS\n");
        return 2;
    }
    unsigned long port = strtoul(argv[1], nullptr, 10), requests = strtoul(argv[2], nullptr, 10);
    SOCKET s = open_bare_server("bare_sntp_server", SOCK_DGRAM, IPPROTO_UDP, port);
    if (s == INVALID_SOCKET) return 1;
    for (unsigned long served = 0; served < requests;) {
        char request[512], reply[48] = {};
        sockaddr_in peer{};
        int length = sizeof peer;
        int got = recvfrom(s, request, sizeof request, 0, (sockaddr*)&peer, &length);
        put_ntp_stamp(reply + 32, ntp_clock());
        // A reply that found its client gone comes back as this error, once.
        if (got == SOCKET_ERROR && WSAGetLastError() != WSAECONNRESET) return 1;
        if (got < (int)sizeof reply) continue;
        reply[0] = (char)(0xC0 | (request[0] & 0x38) | 4);  // unsynchronised, the client's version, server
        reply[1] = 16;
        memcpy(reply + 24, request + 40, 8);
        put_ntp_stamp(reply + 40, ntp_clock());
        sendto(s, reply, sizeof reply, 0, (const sockaddr*)&peer, length);
        ++served;
    }
    closesocket(s);
    WSACleanup();
    return 0;
}
