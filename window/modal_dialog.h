// The one way the program runs a modal dialog: a template and what the dialog
// does as it starts, on a command and on a timer. Its tooltips' tools go with it.
#pragma once
#include "os/win32.h"

struct modal_dialog {
    int template_id;
    void (*init)(HWND dialog);
    void (*command)(HWND dialog, int command);
    void (*timer)(HWND dialog, UINT_PTR timer);  // none when null
    void (*draw)(HWND dialog, LPARAM item);       // WM_DRAWITEM's DRAWITEMSTRUCT; none when null
};

// Returns when the dialog has ended; the owner is disabled meanwhile.
void run_modal_dialog(HWND owner, const modal_dialog& kind);
// Ends the dialog, taking its controls' tools from the tooltip control, which outlives it.
void end_modal_dialog(HWND dialog);
// The procedure of every such dialog; its creation parameter is the modal_dialog.
INT_PTR CALLBACK modal_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
