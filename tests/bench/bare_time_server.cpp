// The least a time server can do: accept, send the seconds since 1900, close.
// Under Wine every socket call goes through the Wine server, so this loop is
// the ceiling there that the bench sets Pendulark's server against.
//   bare_time_server.exe PORT CLIENTS
// Listens on 127.0.0.1:PORT and exits after CLIENTS clients, or when its input ends.
#include "bare_server.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static const int64_t seconds_1900_to_1970 = 2208988800;

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: bare_time_server PORT CLIENTS\n");
        return 2;
    }
    unsigned long port = strtoul(argv[1], nullptr, 10), clients = strtoul(argv[2], nullptr, 10);
    SOCKET s = open_bare_server("bare_time_server", SOCK_STREAM, IPPROTO_TCP, port);
    if (s == INVALID_SOCKET) return 1;
    for (unsigned long served = 0; served < clients; ++served) {
        SOCKET peer = accept(s, nullptr, nullptr);
        if (peer == INVALID_SOCKET) return 1;
        uint32_t seconds = htonl((uint32_t)(time(nullptr) + seconds_1900_to_1970));
        send(peer, (const char*)&seconds, sizeof seconds, 0);
        closesocket(peer);
    }
    closesocket(s);
    WSACleanup();
    return 0;
}
