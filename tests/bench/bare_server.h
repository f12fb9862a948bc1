// What the bench's bare servers share: a socket on 127.0.0.1:PORT, and an end
// as soon as standard input ends (the bench closes it, or dies and so closes it).
#pragma once
#include <winsock2.h>

#include <stdio.h>

static DWORD WINAPI exit_when_input_ends(LPVOID) {
    char byte;
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &read, nullptr) && read != 0) {
    }
    ExitProcess(0);
}

// Winsock up, the socket bound (and listening, for a stream) and the watcher
// started; INVALID_SOCKET, said on stderr, when any of it fails.
static SOCKET open_bare_server(const char* name, int type, int protocol, unsigned long port) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return INVALID_SOCKET;
    SOCKET s = socket(AF_INET, type, protocol);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons((u_short)port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET || bind(s, (const sockaddr*)&address, sizeof address) != 0 ||
        (type == SOCK_STREAM && listen(s, SOMAXCONN) != 0)) {
        fprintf(stderr, "%s: port %lu: error %d\n", name, port, WSAGetLastError());
        return INVALID_SOCKET;
    }
    HANDLE watcher = CreateThread(nullptr, 0, exit_when_input_ends, nullptr, 0, nullptr);
    if (!watcher) return INVALID_SOCKET;
    CloseHandle(watcher);
    return s;
}
