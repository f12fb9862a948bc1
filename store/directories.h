// The program directory and the data directory that every file lookup uses.
#pragma once

constexpr int dir_text_size = 600;
// The program's own file, whatever it was renamed to ("Pendulark (1).exe"), and
// its folder ending in a backslash; both empty when the path cannot be had.
extern char program_path[dir_text_size];
extern char program_dir[dir_text_size];
extern char data_dir[dir_text_size];

// With decide_location 1 the "DefSet.txt" marker may move the data to the
// per-user application-data folder; with 0 the data stays beside the program.
void set_up_directories(int decide_location);
// Opens "ReadMe.htm" beside the program with the shell; a failure reports nothing.
void open_help();
// dir + name into out (600 bytes), cut to fit.
void path_in(const char* dir, const char* name, char* out);
// The machine's folder, %ProgramData%\Brenlo\Pendulark\, made when missing:
// the service keeps its data there, and the window beside it reads it.
void machine_dir(char (&out)[dir_text_size]);
// Copies the settings and the server list from user_dir to dir where dir has
// none; a file already there is never replaced. False when a copy failed.
bool seed_machine_dir(const char* user_dir, const char* dir);
