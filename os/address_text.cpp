#include <stdint.h>
#include <stdio.h>

#include "os/resolver.h"

void address_text(const sockaddr_storage& address, char (&out)[server_address_size]) {
    if (address.ss_family == AF_INET) {
        const unsigned char* b = (const unsigned char*)&((const sockaddr_in*)&address)->sin_addr;
        snprintf(out, sizeof out, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
        return;
    }
    const sockaddr_in6& v6 = *(const sockaddr_in6*)&address;
    uint16_t groups[8];
    for (int i = 0; i < 8; i++) groups[i] = (uint16_t)(v6.sin6_addr.s6_addr[2 * i] << 8 | v6.sin6_addr.s6_addr[2 * i + 1]);
    // The longest run of two or more zero groups, the first of equals, is "::".
    int best = -1, best_length = 1;
    for (int i = 0; i < 8;) {
        int length = 0;
        while (i + length < 8 && groups[i + length] == 0) length++;
        if (length > best_length) best = i, best_length = length;
        i += length ? length : 1;
    }
    char text[64] = "";
    char* at = text;
    for (int i = 0; i < 8; i++) {
        if (i == best) {
            at += sprintf(at, "::");
            i += best_length - 1;
            continue;
        }
        at += sprintf(at, i == 0 || i == best + best_length ? "%x" : ":%x", groups[i]);
    }
    if (v6.sin6_scope_id) sprintf(at, "%%%u", (unsigned)v6.sin6_scope_id);
    snprintf(out, sizeof out, "%s", text);
}

