// The least an SNTP client can do: send a request, take the reply, and work out
// the offset from the four timestamps, nothing more. The bench sets the
// program's accuracy under Wine against this floor.
//   bare_sntp_client.exe ADDRESS
// Asks ADDRESS:123 once for each line of its input and prints the offset in
// seconds, or "none" when no reply came within two seconds.
#include "ntp_clock.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdio.h>
#include <string.h>

static bool exchange(SOCKET s, const sockaddr_in& server, double* offset) {
    char request[48] = {0x23}, reply[48];  // version 4, client
    uint64_t t1 = ntp_clock();
    put_ntp_stamp(request + 40, t1);
    if (sendto(s, request, sizeof request, 0, (const sockaddr*)&server, sizeof server) != sizeof request) return false;
    for (;;) {
        int got = recv(s, reply, sizeof reply, 0);
        uint64_t t4 = ntp_clock();
        if (got == SOCKET_ERROR) return false;
        if (got != sizeof reply || memcmp(reply + 24, request + 40, 8) != 0) continue;  // a late one
        // Differences of stamps of one era: the reference stays within a second.
        int64_t there = (int64_t)(get_ntp_stamp(reply + 32) - t1), back = (int64_t)(get_ntp_stamp(reply + 40) - t4);
        *offset = (double)(there + back) / 2 / 4294967296.0;
        return true;
    }
}

int main(int argc, char** argv) {
    WSADATA data;
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(123);
    if (argc != 2 || inet_pton(AF_INET, argv[1], &server.sin_addr) != 1) {
        fprintf(stderr, "usage: bare_sntp_client ADDRESS\n");
        return 2;
    }
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    DWORD timeout_ms = 2000;
    if (s == INVALID_SOCKET ||
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char*)&timeout_ms, sizeof timeout_ms) != 0)
        return 1;
    char line[64];
    while (fgets(line, sizeof line, stdin)) {
        double offset;
        if (exchange(s, server, &offset))
            printf("%.9f\n", offset);
        else
            printf("none\n");
        fflush(stdout);
    }
    closesocket(s);
    WSACleanup();
    return 0;
}
