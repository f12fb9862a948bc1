// The unattended "/q" run: one sync, then the process ends.
#pragma once

[[noreturn]] void run_quiet_sync();
