#include "dialogs/history_window.h"

#include <stdio.h>
#include <string.h>

#include <vector>

#include "base/filetime.h"
#include "dialogs/history_plot.h"
#include "resources/pendulark_ids.h"
#include "store/history_file.h"
#include "sync/clock_drift.h"

namespace {

// What the open window shows, the last 30 days, read once as it opens.
std::vector<history_point> shown;

const COLORREF grid_colour = RGB(224, 224, 224), check_colour = RGB(0, 90, 200), correction_colour = RGB(200, 30, 30);

// A point's place on the time axis: local days since 1601.
double local_day(uint64_t utc) {
    FILETIME local, at = filetime_from(utc);
    if (!FileTimeToLocalFileTime(&at, &local)) local = at;
    return (double)filetime_of(local) / filetime_per_second / 86400;
}

void tick_label(const plot_axis& axis, double day, char (&out)[tick_text_size]) {
    FILETIME local = filetime_from((uint64_t)(day * 86400 + 0.5) * filetime_per_second);
    SYSTEMTIME t;
    if (!FileTimeToSystemTime(&local, &t)) t = SYSTEMTIME{};
    // Days as month and day; hours as the time, and the date at midnight.
    if (axis.step >= 1 || (t.wHour == 0 && t.wMinute == 0)) snprintf(out, sizeof out, "%02u-%02u", t.wMonth, t.wDay);
    else snprintf(out, sizeof out, "%02u:%02u", t.wHour, t.wMinute);
}

SIZE text_size(HDC dc, const char* text) {
    SIZE size{};
    GetTextExtentPoint32A(dc, text, (int)strlen(text), &size);
    return size;
}

void line(HDC dc, int x1, int y1, int x2, int y2) {
    MoveToEx(dc, x1, y1, nullptr);
    LineTo(dc, x2, y2);
}

// A check is a dot, a correction a triangle: told apart without colour too.
void mark(HDC dc, int x, int y, bool corrected, int r) {
    if (!corrected) {
        Ellipse(dc, x - r, y - r, x + r + 1, y + r + 1);
        return;
    }
    r += r / 2 + 1;
    POINT corners[] = {{x, y - r}, {x - r, y + r}, {x + r, y + r}};
    Polygon(dc, corners, 3);
}

struct plot_area {
    HDC dc;
    RECT r;  // inside the axes
    plot_axis offsets, times;
    int dpi;
    int px(int pixels_at_96) const { return MulDiv(pixels_at_96, dpi, 96); }
};

void draw_grid(const plot_area& p) {
    HPEN grid = CreatePen(PS_SOLID, 1, grid_colour);
    HGDIOBJ old = SelectObject(p.dc, grid);
    SetTextColor(p.dc, GetSysColor(COLOR_WINDOWTEXT));
    char label[tick_text_size];
    for (double v = p.offsets.low; v <= p.offsets.high + p.offsets.step / 2; v += p.offsets.step) {
        int y = plot_pixel(p.offsets, v, p.r.bottom, p.r.top);
        line(p.dc, p.r.left, y, p.r.right, y);
        offset_tick_text(p.offsets, v, label);
        SIZE size = text_size(p.dc, label);
        TextOutA(p.dc, p.r.left - size.cx - p.px(4), y - size.cy / 2, label, (int)strlen(label));
    }
    for (double d = p.times.low; d <= p.times.high + p.times.step / 2; d += p.times.step) {
        int x = plot_pixel(p.times, d, p.r.left, p.r.right);
        line(p.dc, x, p.r.top, x, p.r.bottom);
        tick_label(p.times, d, label);
        SIZE size = text_size(p.dc, label);
        // Centred under its tick, but never under the offsets' labels.
        int left = x - size.cx / 2 < p.r.left ? p.r.left : x - size.cx / 2;
        TextOutA(p.dc, left, p.r.bottom + p.px(3), label, (int)strlen(label));
    }
    SelectObject(p.dc, old);
    DeleteObject(grid);
    // Zero, and the frame, in the text's colour.
    HPEN strong = CreatePen(PS_SOLID, p.px(1), GetSysColor(COLOR_WINDOWTEXT));
    old = SelectObject(p.dc, strong);
    int zero = plot_pixel(p.offsets, 0, p.r.bottom, p.r.top);
    line(p.dc, p.r.left, zero, p.r.right, zero);
    SelectObject(p.dc, GetStockObject(NULL_BRUSH));
    Rectangle(p.dc, p.r.left, p.r.top, p.r.right + 1, p.r.bottom + 1);
    SelectObject(p.dc, old);
    DeleteObject(strong);
}

void draw_points(const plot_area& p, const history_point* points, size_t count) {
    for (bool corrected : {false, true}) {
        COLORREF colour = corrected ? correction_colour : check_colour;
        HBRUSH brush = CreateSolidBrush(colour);
        HPEN pen = CreatePen(PS_SOLID, 1, colour);
        HGDIOBJ old_brush = SelectObject(p.dc, brush), old_pen = SelectObject(p.dc, pen);
        for (size_t i = 0; i < count; i++) {
            if (points[i].corrected != corrected) continue;
            mark(p.dc, plot_pixel(p.times, local_day(points[i].utc), p.r.left, p.r.right),
                 plot_pixel(p.offsets, points[i].offset, p.r.bottom, p.r.top), corrected, p.px(2));
        }
        SelectObject(p.dc, old_brush);
        SelectObject(p.dc, old_pen);
        DeleteObject(brush);
        DeleteObject(pen);
    }
}

void draw_legend(const plot_area& p) {
    static const char check[] = "Check", correction[] = "Correction";
    SIZE a = text_size(p.dc, check), b = text_size(p.dc, correction);
    int gap = p.px(8), y = p.r.top + p.px(4) + a.cy / 2;
    int x = p.r.right - gap - b.cx - 4 * gap - a.cx;
    for (int i = 0; i < 2; i++) {
        bool corrected = i == 1;
        HBRUSH brush = CreateSolidBrush(corrected ? correction_colour : check_colour);
        HGDIOBJ old = SelectObject(p.dc, brush);
        mark(p.dc, x, y, corrected, p.px(2));
        SelectObject(p.dc, old);
        DeleteObject(brush);
        const char* text = corrected ? correction : check;
        TextOutA(p.dc, x + gap, y - a.cy / 2, text, (int)strlen(text));
        x += gap + a.cx + 2 * gap;
    }
}

void draw_plot(HWND dialog, LPARAM item) {
    const DRAWITEMSTRUCT* drawn = (const DRAWITEMSTRUCT*)item;
    HDC dc = drawn->hDC;
    RECT all = drawn->rcItem;
    FillRect(dc, &all, GetSysColorBrush(COLOR_WINDOW));
    HGDIOBJ old_font = SelectObject(dc, (HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    const history_point* points = shown.data();
    size_t count = shown.size();
    if (count == 0) {
        static const char empty[] = "No history yet: every Check and Correct adds a point here.";
        DrawTextA(dc, empty, -1, &all, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        SelectObject(dc, old_font);
        return;
    }
    plot_area p{dc, all, {}, {}, GetDeviceCaps(dc, LOGPIXELSY)};
    double lowest = 0, highest = 0, first_day = local_day(points[0].utc), last_day = local_day(points[count - 1].utc);
    for (size_t i = 0; i < count; i++) {
        if (points[i].offset < lowest) lowest = points[i].offset;
        if (points[i].offset > highest) highest = points[i].offset;
    }
    int text_height = text_size(dc, "0").cy;
    int label_width = text_size(dc, "+9999 ms").cx;
    p.r.left += label_width + p.px(8);
    p.r.right -= text_size(dc, "00-00").cx / 2 + p.px(4);
    p.r.top += text_height / 2 + p.px(2);
    p.r.bottom -= text_height + p.px(6);
    p.offsets = offset_axis(lowest, highest, (p.r.bottom - p.r.top) / (2 * text_height));
    p.times = time_axis(first_day, last_day, (p.r.right - p.r.left) / (text_size(dc, "00-00").cx * 2));
    draw_grid(p);
    draw_points(p, points, count);
    draw_legend(p);
    SelectObject(dc, old_font);
}

void init_history(HWND dialog) {
    shown = read_history();
    shown.erase(shown.begin(), shown.begin() + (ptrdiff_t)first_shown(shown.data(), shown.size()));
    drift_estimate drift = estimate_drift(shown.data(), shown.size());
    char text[drift_text_size];
    describe_drift(drift, text);
    SetDlgItemTextA(dialog, IDT_HISTORY_DRIFT, text);
}

// The rows as text, for a spreadsheet or a bug report.
void copy_history(HWND dialog) {
    std::vector<char> text = history_text();
    if (!OpenClipboard(dialog)) return;
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size());
    void* bytes = memory ? GlobalLock(memory) : nullptr;
    if (bytes) {
        memcpy(bytes, text.data(), text.size());
        GlobalUnlock(memory);
        if (!SetClipboardData(CF_TEXT, memory)) GlobalFree(memory);
    } else if (memory) {
        GlobalFree(memory);
    }
    CloseClipboard();
}

void on_history_command(HWND dialog, int command) {
    if (command == IDB_HISTORY_COPY) copy_history(dialog);
    if (command == IDOK || command == IDCANCEL) {
        end_modal_dialog(dialog);
        shown.clear();
    }
}

}  // namespace

const modal_dialog history_window = {IDD_HISTORY, init_history, on_history_command, nullptr, draw_plot};

void show_history_window(HWND owner) {
    static bool open;
    if (open) return;
    open = true;
    run_modal_dialog(owner, history_window);
    open = false;
}
