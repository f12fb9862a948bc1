// The real History window, made in-process from its template, drawn into a
// bitmap of the plot's size: what it paints with no history, one row and a week.
#include <string>

#include "scratch_dir.h"
#include "dialogs/history_window.h"
#include "resources/pendulark_ids.h"
#include "store/history_file.h"
#include "window/status_line.h"

namespace {

class RealHistoryWindow : public ScratchDir {
protected:
    // The plot drawn into a bitmap: how many pixels of each mark's colour in
    // its lower half, below the legend's marks, and of anything else anywhere.
    struct drawn {
        int checks = 0, corrections = 0, other = 0;
    };
    drawn draw(HWND dialog) {
        HWND plot = GetDlgItem(dialog, IDC_HISTORY_PLOT);
        RECT r;
        GetClientRect(plot, &r);
        HDC screen = GetDC(nullptr), dc = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, r.right, r.bottom);
        HGDIOBJ old = SelectObject(dc, bitmap);
        DRAWITEMSTRUCT item{ODT_STATIC, IDC_HISTORY_PLOT, 0, ODA_DRAWENTIRE, 0, plot, dc, r, 0};
        SendMessageA(dialog, WM_DRAWITEM, IDC_HISTORY_PLOT, (LPARAM)&item);
        drawn found;
        COLORREF background = GetSysColor(COLOR_WINDOW);
        for (int y = 0; y < r.bottom; y++) {
            for (int x = 0; x < r.right; x++) {
                COLORREF c = GetPixel(dc, x, y);
                bool below_legend = y >= r.bottom / 2;
                if (c == RGB(0, 90, 200)) found.checks += below_legend;
                else if (c == RGB(200, 30, 30)) found.corrections += below_legend;
                else if (c != background) found.other++;
            }
        }
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
        ReleaseDC(nullptr, screen);
        return found;
    }
    std::string text(HWND dialog, int control) {
        char buffer[400] = "";
        GetDlgItemTextA(dialog, control, buffer, sizeof buffer);
        return buffer;
    }
};

TEST_F(RealHistoryWindow, PaintsNothingOneRowAndAWeek) {
    instance_handle = GetModuleHandleA(nullptr);
    std::string week = history_header;
    for (int i = 0; i < 42; i++) {
        char row[120];
        // Every 4 hours from 2 December 2026, a quarter of a second behind.
        snprintf(row, sizeof row, "2026-12-%02dT%02d:00:00.000Z,a.example,192.0.2.1,SNTP,-0.25,0.01,2,1\r\n",
                 2 + i / 6, i % 6 * 4);
        week += row;
    }
    // Every point is below zero, so in the lower half, away from the legend at the top.
    struct { std::string file; int checks, corrections; const char* drift; } cases[] = {
        {"", 0, 0, "Drift: not enough data yet"},
        {std::string(history_header) + "2026-12-09T03:33:07.123Z,a.example,192.0.2.1,SNTP,-0.012,0.01,2,0\r\n",
         1, 0, "Drift: not enough data yet\r\nLargest offset: -0.012 s"},
        {week, 0, 42, "Drift: this clock gains 1.500 s a day (17.4 ppm), from 6.8 days\r\n"},
    };
    for (auto& c : cases) {
        DeleteFileA(path(history_file_name).c_str());
        if (!c.file.empty()) write(history_file_name, c.file);
        HWND dialog = CreateDialogParamA(instance_handle, MAKEINTRESOURCEA(IDD_HISTORY), nullptr, modal_dialog_proc,
                                         (LPARAM)&history_window);
        ASSERT_NE(dialog, nullptr);
        drawn found = draw(dialog);
        // Each point is more than one pixel of its colour, though marks may overlap.
        EXPECT_EQ(found.checks == 0, c.checks == 0) << c.drift;
        EXPECT_EQ(found.corrections == 0, c.corrections == 0) << c.drift;
        EXPECT_GE(found.checks, c.checks * 4) << c.drift;
        EXPECT_GE(found.corrections, c.corrections * 4) << c.drift;
        EXPECT_GT(found.other, 0) << "text, axes or the empty plot's words";
        EXPECT_EQ(text(dialog, IDT_HISTORY_DRIFT).substr(0, strlen(c.drift)), c.drift);
        DestroyWindow(dialog);
    }
}

}  // namespace
