// The least a time server can do: accept, send the seconds since 1900, close.
// Under Wine every socket call goes through the Wine server, so this loop is
// the ceiling there that the bench sets Pendulark's server against.
//   bare_time_server.exe PORT CLIENTS
// Listens on 127.0.0.1:PORT and exits after CLIENTS clients, or as soon as
// its standard input ends: the bench closes it, or dies and so closes it.
#include <winsock2.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static const int64_t seconds_1900_to_1970 = 2208988800;

static DWORD WINAPI exit_when_input_ends(LPVOID) {
    char byte;
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &read, nullptr) && read != 0) {
    }
    ExitProcess(0);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: bare_time_server PORT CLIENTS\n");
        return 2;
    }
    unsigned long port = strtoul(argv[1], nullptr, 10), clients = strtoul(argv[2], nullptr, 10);
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons((u_short)port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET || bind(s, (const sockaddr*)&address, sizeof address) != 0 ||
        listen(s, SOMAXCONN) != 0) {
        fprintf(stderr, "bare_time_server: port %lu: error %d\n", port, WSAGetLastError());
        return 1;
    }
    HANDLE watcher = CreateThread(nullptr, 0, exit_when_input_ends, nullptr, 0, nullptr);
    if (!watcher) return 1;
    CloseHandle(watcher);
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
