#!/bin/bash
# Runs a command in a network namespace of its own with only loopback up: its
# servers on ports 37 and 123 meet no other program's on this machine (another
# run of the tests, a time service), and nothing it asks leaves the machine.
# Inside, this user is root of a user namespace of its own; Wine's prefixes
# under the build tree are still this user's.
set -euo pipefail
if [ "${1:-}" != --inside ]; then
    command -v unshare >/dev/null || { echo "unshare (util-linux) is not installed" >&2; exit 1; }
    exec unshare --map-root-user --net "$0" --inside "$@"
fi
shift
python3 - <<'PY'
import fcntl, socket, struct
siocgifflags, siocsifflags, iff_up = 0x8913, 0x8914, 0x1
with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
    flags = struct.unpack("16sh14x", fcntl.ioctl(s, siocgifflags, struct.pack("16sh14x", b"lo", 0)))[1]
    fcntl.ioctl(s, siocsifflags, struct.pack("16sh14x", b"lo", flags | iff_up))
PY
exec "$@"
