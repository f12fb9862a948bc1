// The time-zone guard, which puts a locked zone back when its offset from UTC
// has changed, and the "Time Zone" window that shows the zone and the lock.
#pragma once
#include <stdint.h>

#include "os/win32.h"

constexpr int zone_text_size = 600;

// 1 when the last guard run found daylight time in force.
extern uint32_t time_zone_in_daylight;
// The zone's "Display" name from the registry; its first 132 bytes travel in
// the settings image.
extern char time_zone_display_name[zone_text_size];

// Restores a locked zone, then adopts the zone in force: the title of the main
// window, the phase and the display name follow it.
void check_time_zone(HWND window);
void restore_time_zone();
// After the settings are loaded: the display name the image carried.
void take_time_zone_name_from_settings();

// "+ 9 Hrs 30 Mns", "- 1 Hr", "None".
void format_bias(HWND dialog, int control, int32_t minutes);
// The next date of a transition; 1 when there is none (the text reads "None").
int format_transition_date(HWND dialog, int control, const SYSTEMTIME& transition);

// The guard first, then the window, modal, owned by owner.
void show_time_zone_window(HWND owner);
void init_time_zone_window(HWND dialog);
// OK stores the lock and closes; Help! opens the help; nothing else closes it.
void on_time_zone_command(HWND dialog, int command);
