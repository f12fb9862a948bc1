#include "window/modal_dialog.h"

#include "base/controls.h"
#include "window/status_line.h"

void run_modal_dialog(HWND owner, const modal_dialog& kind) {
    DialogBoxParamA(instance_handle, MAKEINTRESOURCEA(kind.template_id), owner, modal_dialog_proc, (LPARAM)&kind);
}

void end_modal_dialog(HWND dialog) {
    remove_tooltips(dialog);
    EndDialog(dialog, 0);
}

INT_PTR CALLBACK modal_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        // Kept with the dialog: a dialog opened over another has its own.
        SetWindowLongPtrA(dialog, DWLP_USER, lparam);
        ((const modal_dialog*)lparam)->init(dialog);
        return TRUE;
    }
    const modal_dialog* kind = (const modal_dialog*)GetWindowLongPtrA(dialog, DWLP_USER);
    if (!kind) return FALSE;
    if (message == WM_COMMAND) {
        kind->command(dialog, LOWORD(wparam));
        return TRUE;
    }
    if (message == WM_TIMER && kind->timer) {
        kind->timer(dialog, wparam);
        return TRUE;
    }
    if (message == WM_DRAWITEM && kind->draw) {
        kind->draw(dialog, lparam);
        return TRUE;
    }
    return FALSE;
}
