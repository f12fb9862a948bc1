// The command line: arguments and the start-up switches.
#pragma once
#include "store/settings_store.h"

constexpr int argument_text_size = 600;
// Characters of the command line the tokeniser works on, room for the longest
// start-with-Windows value the program writes; a longer line is cut.
constexpr int command_work_size = run_command_size;

enum { argument_found = 1, argument_missing = 2, argument_odd_quotes = 3, argument_empty = 4 };
enum { switch_none = 0, switch_quiet = 1, switch_minimised = 2, switch_unregister = 3, switch_service = 4 };
enum { service_run = 0, service_install = 1, service_remove = 2, service_unknown = 3 };

// The n-th argument (0 = program path) of the given line into out (600 bytes).
int split_command_argument(const char* line, int n, char* out);
// The same for this process's command line.
int get_command_argument(int n, char* out);
// "/q" or "/s" by the last two characters of the first argument, in either case;
// "/unregister" and "/service" as the whole first argument.
int command_switch();
// After "/service": none (the control manager's start), "install", "remove", or another word.
int service_command();
