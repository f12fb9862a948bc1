// Sumwick: the window Form1 and its message loop. The window only moves texts
// between its boxes and the click handlers of digest_form.
#include <windows.h>

#include "digest/digest_form.h"
#include "resources/sumwick_ids.h"

static const wchar_t form1_class[] = L"SUMWICK";
static HWND last_focus;

// The character's code in the system's ANSI code page, one character at a time,
// so a double-byte character comes back as lead * 256 + trail.
static int16_t system_ansi_code(char16_t unit) {
    wchar_t wide = static_cast<wchar_t>(unit);
    char bytes[2];
    int count = WideCharToMultiByte(CP_ACP, 0, &wide, 1, bytes, sizeof bytes, NULL, NULL);
    if (count == 2)
        return static_cast<int16_t>(static_cast<uint16_t>(
            (static_cast<unsigned char>(bytes[0]) << 8) | static_cast<unsigned char>(bytes[1])));
    if (count == 1) return static_cast<unsigned char>(bytes[0]);
    return '?';  // what the code page substitutes for a character it lacks
}

static std::u16string box_text(void* context, int control_id) {
    HWND box = GetDlgItem(static_cast<HWND>(context), control_id);
    int length = GetWindowTextLengthW(box);
    if (length <= 0) return u"";
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int got = GetWindowTextW(box, text.data(), length + 1);
    if (got < 0) got = 0;
    return std::u16string(text.begin(), text.begin() + got);
}

static void set_box_text(void* context, int control_id, const std::u16string& text) {
    std::wstring wide(text.begin(), text.end());
    SetDlgItemTextW(static_cast<HWND>(context), control_id, wide.c_str());
}

static const wchar_t* control_class(form_control_kind kind) {
    switch (kind) {
        case FORM_LABEL: return L"STATIC";
        case FORM_TEXT_BOX: return L"EDIT";
        case FORM_BUTTON: return L"BUTTON";
    }
    return L"STATIC";
}

static DWORD control_style(const form_control& control) {
    DWORD style = WS_CHILD | WS_VISIBLE;
    switch (control.kind) {
        // A label reaches a little into the box below it; clipped, it leaves
        // the box's border whole, which shows from 150 % on.
        case FORM_LABEL: return style | SS_LEFT | WS_CLIPSIBLINGS;
        case FORM_BUTTON: return style | WS_TABSTOP | BS_PUSHBUTTON;
        case FORM_TEXT_BOX:
            style |= WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
            // The digest box is for reading and copying, never for typing.
            if (control.id == IDE_FORM1_TEXT2) style |= ES_READONLY;
            return style;
    }
    return style;
}

static void create_controls(HWND window) {
    HDC screen = GetDC(NULL);
    int dpi_x = GetDeviceCaps(screen, LOGPIXELSX);
    int dpi_y = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(NULL, screen);
    // One font for the whole window; no control has a font of its own.
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
    for (const form_control& control : form1_controls) {
        std::wstring caption(control.caption, control.caption + std::char_traits<char16_t>::length(control.caption));
        HWND child = CreateWindowExW(
            control.kind == FORM_TEXT_BOX ? WS_EX_CLIENTEDGE : 0, control_class(control.kind),
            caption.c_str(), control_style(control), twips_to_pixels(control.left, dpi_x),
            twips_to_pixels(control.top, dpi_y), twips_to_pixels(control.width, dpi_x),
            twips_to_pixels(control.height, dpi_y), window,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), instance, NULL);
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        // The input box takes text of any length, as a pasted megabyte, not the
        // edit control's default of 32767 characters.
        if (control.id == IDE_FORM1_TEXT1) SendMessageW(child, EM_LIMITTEXT, 0, 0);
    }
}

static LRESULT CALLBACK form1_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE:
            create_controls(window);
            return 0;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
            if (reinterpret_cast<HWND>(lparam) == GetDlgItem(window, IDE_FORM1_TEXT2)) {
                SetBkColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_MENU));
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_MENU));
            }
            break;
        case WM_COMMAND: {
            form_boxes boxes = {window, box_text, set_box_text, system_ansi_code};
            int id = LOWORD(wparam);
            if (id == IDOK) {
                // The dialog manager's Enter: no button is the default, so Enter
                // presses a button only when that button has the focus.
                HWND focus = GetFocus();
                if (focus == GetDlgItem(window, IDB_FORM1_COMMAND1) ||
                    focus == GetDlgItem(window, IDB_FORM1_COMMAND2))
                    SendMessageW(focus, BM_CLICK, 0, 0);
            } else if (HIWORD(wparam) == BN_CLICKED && id == IDB_FORM1_COMMAND1) {
                command1_click(boxes);
            } else if (HIWORD(wparam) == BN_CLICKED && id == IDB_FORM1_COMMAND2) {
                command2_click(boxes);
            }
            return 0;
        }
        case WM_ACTIVATE:
            // A plain window does not keep its focus across deactivation the way
            // a dialog does; put it back by hand.
            if (LOWORD(wparam) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus && IsChild(window, focus)) last_focus = focus;
            } else {
                SetFocus(last_focus ? last_focus : GetDlgItem(window, IDB_FORM1_COMMAND1));
            }
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = form1_proc;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SUMWICK));
    window_class.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_SUMWICK),
                                                         IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                         GetSystemMetrics(SM_CYSMICON), 0));
    window_class.hCursor = LoadCursorW(NULL, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = form1_class;
    if (!RegisterClassExW(&window_class)) return 1;

    // The layout is fixed, so the window has a fixed frame and no maximise box.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    HDC screen = GetDC(NULL);
    RECT frame = {0, 0, twips_to_pixels(FORM1_CLIENT_WIDTH_TWIPS, GetDeviceCaps(screen, LOGPIXELSX)),
                  twips_to_pixels(FORM1_CLIENT_HEIGHT_TWIPS, GetDeviceCaps(screen, LOGPIXELSY))};
    ReleaseDC(NULL, screen);
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    std::wstring caption(form1_caption, form1_caption + std::char_traits<char16_t>::length(form1_caption));
    HWND window = CreateWindowExW(0, form1_class, caption.c_str(), style, CW_USEDEFAULT,
                                  CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                                  NULL, NULL, instance, NULL);
    if (!window) return 1;
    ShowWindow(window, show);
    UpdateWindow(window);
    SetFocus(GetDlgItem(window, IDB_FORM1_COMMAND1));

    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        // The dialog manager gives Tab and the arrow keys their usual meaning.
        if (IsDialogMessageW(window, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
