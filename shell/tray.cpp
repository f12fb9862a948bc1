#include "shell/tray.h"

uint32_t in_tray;

void hide_to_tray(HWND window) {
    ShowWindow(window, SW_MINIMIZE);
}

// The menu comes with the icon; a right click shows nothing until then.
void show_tray_menu(HWND) {}
