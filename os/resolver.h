// The addresses of a time server's name, both families.
#pragma once
#include <string.h>

#include "os/win32.h"

// Pool names have many addresses; a few are tried before the next entry, so
// that one entry cannot hold a cycle for many time-outs.
constexpr int most_addresses = 4;

// The addresses of a name or a literal (IPv6 with or without brackets, with a
// scope id after "%"), in the resolver's order, each family, at most
// most_addresses; 0 when there are none. Ports are left 0.
int resolve_host(const char* name, sockaddr_storage (&out)[most_addresses]);

constexpr int server_address_size = 64;
// An address as the status line and the log show it: dotted IPv4, or IPv6 in
// its shortest form (RFC 5952) with its scope id.
void address_text(const sockaddr_storage& address, char (&out)[server_address_size]);

// The addresses of getaddrinfo's list, as resolve_host gives them.
inline int take_addresses(const addrinfo* list, sockaddr_storage (&out)[most_addresses]) {
    int count = 0;
    for (const addrinfo* at = list; at && count < most_addresses; at = at->ai_next) {
        if ((at->ai_family != AF_INET && at->ai_family != AF_INET6) || at->ai_addrlen > sizeof out[0]) continue;
        out[count] = sockaddr_storage{};
        memcpy(&out[count++], at->ai_addr, at->ai_addrlen);
    }
    return count;
}
