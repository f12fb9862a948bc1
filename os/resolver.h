// The addresses of a time server's name, both families.
#pragma once
#include "os/win32.h"

// Pool names have many addresses; a few are tried before the next entry, so
// that one entry cannot hold a cycle for many time-outs.
constexpr int most_addresses = 4;

// The addresses of a name or a literal (IPv6 with or without brackets, with a
// scope id after "%"), in the resolver's order, each family, at most
// most_addresses; 0 when there are none. Ports are left 0.
int resolve_host(const char* name, sockaddr_storage (&out)[most_addresses]);
