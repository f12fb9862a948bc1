// The resolver of the Windows build. getaddrinfo came with Windows XP SP2; it
// is looked up when asked for, so that a Windows without it still starts and
// resolves IPv4 names as before.
#include "os/resolver.h"

#include <string.h>

namespace {

typedef int(WSAAPI* getaddrinfo_fn)(const char*, const char*, const addrinfo*, addrinfo**);
typedef void(WSAAPI* freeaddrinfo_fn)(addrinfo*);

int resolve_by_hostent(const char* name, sockaddr_storage (&out)[most_addresses]) {
    hostent* host = gethostbyname(name);
    if (!host || host->h_addrtype != AF_INET || host->h_length != 4) return 0;
    int count = 0;
    for (char** at = host->h_addr_list; *at && count < most_addresses; at++, count++) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        memcpy(&address.sin_addr, *at, 4);
        out[count] = sockaddr_storage{};
        memcpy(&out[count], &address, sizeof address);
    }
    return count;
}

}  // namespace

int resolve_host(const char* name, sockaddr_storage (&out)[most_addresses]) {
    HMODULE winsock = GetModuleHandleA("ws2_32.dll");
    auto get = winsock ? (getaddrinfo_fn)(void*)GetProcAddress(winsock, "getaddrinfo") : nullptr;
    auto release = winsock ? (freeaddrinfo_fn)(void*)GetProcAddress(winsock, "freeaddrinfo") : nullptr;
    if (!get || !release) return resolve_by_hostent(name, out);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;  // one entry an address, not one a socket type
    addrinfo* list = nullptr;
    if (get(name, nullptr, &hints, &list) != 0) return 0;
    int count = take_addresses(list, out);
    release(list);
    return count;
}
