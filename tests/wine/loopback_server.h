// A one-shot time server on loopback for the wine tier, on Winsock.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <string>
#include <thread>

// Wine binds a datagram socket to every interface whatever address it is given,
// so its replies leave from 127.0.0.1 and only a client of that address sees them.
const char* const server_address = "127.0.0.1";

// A one-shot server on port 37 (stream) or 123 (datagram) of server_address.
// The stream one sends its reply in two pieces, so that the client must gather
// it from more than one read.
struct Server {
    SOCKET s;
    std::thread thread;
    bool bound = false;
    explicit Server(bool tcp, std::string reply = "") {
        // Our own start-up: the worker's cleanup must not pull Winsock from under us.
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        s = socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
        DWORD limit = 5000;
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char*)&limit, sizeof limit);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(tcp ? 37 : 123);
        at.sin_addr.s_addr = inet_addr(server_address);
        bound = bind(s, (sockaddr*)&at, sizeof at) == 0 && (!tcp || listen(s, 2) == 0);
        if (!bound) return;
        thread = std::thread([this, tcp, reply] {
            if (tcp) {
                SOCKET peer = accept(s, nullptr, nullptr);
                if (peer == INVALID_SOCKET) return;
                send(peer, reply.data(), 1, 0);
                Sleep(50);
                send(peer, reply.data() + 1, (int)reply.size() - 1, 0);
                Sleep(50);
                closesocket(peer);
                return;
            }
            char request[48];
            sockaddr_in from{};
            int length = sizeof from;
            if (recvfrom(s, request, sizeof request, 0, (sockaddr*)&from, &length) != 48) return;
            std::string r(48, '\0');
            r[0] = 0x24;
            r[1] = 1;
            r.replace(24, 8, std::string(request + 40, 8));  // originate
            r.replace(32, 8, std::string(request + 40, 8));
            r.replace(40, 8, std::string(request + 40, 8));
            sendto(s, r.data(), 48, 0, (sockaddr*)&from, length);
        });
    }
    ~Server() {
        closesocket(s);
        if (thread.joinable()) thread.join();
        WSACleanup();
    }
};

// Whether every Winsock reference has been given back: the threads that held
// one (workers, the time server) have ended.
inline bool winsock_is_down() {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s != INVALID_SOCKET) closesocket(s);
    return s == INVALID_SOCKET && WSAGetLastError() == WSANOTINITIALISED;
}
