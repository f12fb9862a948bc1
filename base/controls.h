// Small helpers over the controls of any dialog of the program.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "os/win32.h"

// The one tooltip control of the program; 0 until it is made.
extern HWND tooltip_window;

void create_tooltip_window(HINSTANCE instance);
// Gives a control its tooltip, replacing the one it had.
void add_tooltip(HWND dialog, int control, const char* text);
// Takes every tool of a dialog's controls away, as the dialog closes: the
// tooltip control outlives it.
void remove_tooltips(HWND dialog);
void set_control_enabled(HWND dialog, int control, int enable);
// Every text read from a control comes through here: cut to the buffer,
// always terminated, empty when the control has none.
template <size_t N>
void read_control_text(HWND dialog, int control, char (&out)[N]) {
    if (GetDlgItemTextA(dialog, control, out, (int)N) == 0) out[0] = 0;
    out[N - 1] = 0;
}
// Tells every top-level window of a change; a hung window is skipped, not waited for.
void broadcast_change(UINT message);
// Above every other window when flag is exactly 1.
void set_topmost(HWND window, uint32_t flag);
