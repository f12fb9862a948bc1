// winctl: drives the top-level window of another process from the command
// line, as a user would with mouse and keyboard, for the e2e tier.
//   winctl wait CLASS MS            wait until a window of CLASS exists
//   winctl gone CLASS MS            wait until no window of CLASS exists
//   winctl close CLASS              ask the window to close (WM_CLOSE)
//   winctl key CLASS VK             press and release a key in the window
//   winctl type CLASS ID TEXT       type TEXT into child control ID
//   winctl set-text CLASS ID TEXT   replace the text of child control ID
//   winctl click CLASS ID           click the button ID
//   winctl get-text CLASS ID        print the text of child ID in UTF-8
//   winctl checked CLASS ID         print the check state of button ID: 0, 1 or 2
//   winctl select CLASS ID INDEX    select item INDEX of the drop-down list ID
//   winctl selected CLASS ID        print the index of the drop-down list's selection (-1: none)
//   winctl keyto CLASS ID VK        press and release a key in child control ID
// CLASS may be CLASS:TITLE to tell windows of one class apart.
//   winctl visible CLASS            exit 0 when the window is visible, 1 when hidden
//   winctl enabled CLASS            exit 0 when the window takes input, 1 when disabled
//   winctl title CLASS              print the window's title in UTF-8
//   winctl rect CLASS               print the window's place: left top width height
//   winctl record FILE ARG          write ARG into FILE (a stand-in program for the shell)
//   winctl hold FILE SHARE          open FILE for reading, sharing it for reading when SHARE
//                                   is "read" and not at all when "none", print "held", and
//                                   keep it open until standard input ends (two minutes at most)
//   winctl run COMMAND-LINE         start a program as Windows does at logon, with
//                                   exactly this command line; exit with its code
//   winctl post CLASS [ID] MSG W L  post a message to the window or its child ID; MSG is
//                                   a number or the name of a registered message
//                                   ("TaskbarCreated")
//   winctl census CLASS             print what the process owning the window holds:
//                                   "handles N gdi N user N windows N tools N", where
//                                   windows are its top-level windows, tools those of its
//                                   tooltip controls, and -1 a count the system would not give
//   winctl serve                    run one command a line from standard input, its arguments
//                                   apart by tabs in UTF-8; after what the command prints comes
//                                   a line "\x1e" and its exit code. One Wine process then serves
//                                   a whole test run instead of one process per query.
// Exit codes: 0 done, 1 window or control not found, 2 usage.
// key, keyto, post and close post their messages and return at once; the other
// commands send theirs, and a sent message overtakes posted ones. So a test shows
// that a posted message was handled by what a later posted one did.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

// Generous: a loaded two-core host running two Wine prefixes at once can keep
// a window from its queue for seconds; a hung window still fails at once.
static const DWORD message_timeout_ms = 15000;

// CLASS, or CLASS:TITLE where two windows share a class (dialogs are all "#32770").
static HWND find_window(const wchar_t* window_class) {
    std::wstring name(window_class);
    size_t colon = name.find(L':');
    if (colon == std::wstring::npos) return FindWindowW(window_class, NULL);
    return FindWindowW(name.substr(0, colon).c_str(), name.substr(colon + 1).c_str());
}

static bool wait_for(const wchar_t* window_class, DWORD ms, bool present) {
    DWORD start = GetTickCount();
    for (;;) {
        if ((find_window(window_class) != NULL) == present) return true;
        if (GetTickCount() - start >= ms) return false;
        Sleep(50);
    }
}

static void print_utf8(const std::wstring& text) {
    std::string bytes;
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), NULL, 0, NULL, NULL);
    if (size > 0) {
        bytes.resize(static_cast<size_t>(size));
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, NULL,
                            NULL);
    }
    bytes += '\n';
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
}

static bool send(HWND window, UINT message, WPARAM w, LPARAM l, DWORD_PTR* result = NULL) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(window, message, w, l, SMTO_ABORTIFHUNG, message_timeout_ms,
                               result ? result : &ignored) != 0;
}

// MSG W L of the post command.
static int post(HWND target, wchar_t** args) {
    wchar_t* end = NULL;
    UINT message = static_cast<UINT>(wcstoul(args[0], &end, 0));
    if (*end) message = RegisterWindowMessageW(args[0]);
    WPARAM w = wcstoul(args[1], NULL, 0);
    LPARAM l = static_cast<LPARAM>(wcstoul(args[2], NULL, 0));
    return PostMessageW(target, message, w, l) ? 0 : 1;
}

static int control_command(const wchar_t* verb, HWND control, int argc, wchar_t** argv) {
    if (!wcscmp(verb, L"click") && argc == 4) return send(control, BM_CLICK, 0, 0) ? 0 : 1;
    if (!wcscmp(verb, L"set-text") && argc == 5)
        return send(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4])) ? 0 : 1;
    if (!wcscmp(verb, L"type") && argc == 5) {
        send(control, WM_SETFOCUS, 0, 0);
        for (const wchar_t* unit = argv[4]; *unit; ++unit)
            if (!send(control, WM_CHAR, *unit, 1)) return 1;
        return 0;
    }
    if (!wcscmp(verb, L"select") && argc == 5) {
        DWORD_PTR selected = 0;
        return send(control, CB_SETCURSEL, wcstoul(argv[4], NULL, 10), 0, &selected) ? 0 : 1;
    }
    if (!wcscmp(verb, L"keyto") && argc == 5) {
        WPARAM key = wcstoul(argv[4], NULL, 0);
        return PostMessageW(control, WM_KEYDOWN, key, 1) && PostMessageW(control, WM_KEYUP, key, 0xC0000001) ? 0 : 1;
    }
    if (!wcscmp(verb, L"post") && argc == 7) return post(control, argv + 4);
    if (!wcscmp(verb, L"selected") && argc == 4) {
        DWORD_PTR index = 0;
        if (!send(control, CB_GETCURSEL, 0, 0, &index)) return 1;
        print_utf8(std::to_wstring(static_cast<long>(static_cast<LRESULT>(index))));
        return 0;
    }
    if (!wcscmp(verb, L"checked") && argc == 4) {
        DWORD_PTR state = 0;
        if (!send(control, BM_GETCHECK, 0, 0, &state)) return 1;
        print_utf8(std::to_wstring(state));
        return 0;
    }
    if (!wcscmp(verb, L"get-text") && argc == 4) {
        DWORD_PTR length = 0;
        if (!send(control, WM_GETTEXTLENGTH, 0, 0, &length)) return 1;
        std::wstring text(length + 1, L'\0');
        DWORD_PTR got = 0;
        if (!send(control, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()), &got)) return 1;
        text.resize(got);
        print_utf8(text);
        return 0;
    }
    return 2;
}

static int run(const wchar_t* command_line) {
    std::wstring line(command_line);
    STARTUPINFOW start;
    ZeroMemory(&start, sizeof start);
    start.cb = sizeof start;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &start, &process)) return 3;
    DWORD code = 4;
    if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

static DWORD WINAPI read_to_end(void*) {
    char bytes[64];
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), bytes, sizeof bytes, &got, NULL) && got) {
    }
    return 0;
}

// Another program holding FILE, as a backup or a virus scanner would.
static int hold(const wchar_t* path, const wchar_t* share) {
    DWORD mode = !wcscmp(share, L"read") ? FILE_SHARE_READ : !wcscmp(share, L"none") ? 0 : MAXDWORD;
    if (mode == MAXDWORD) return 2;
    HANDLE file = CreateFileW(path, GENERIC_READ, mode, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 1;
    print_utf8(L"held");
    HANDLE reader = CreateThread(NULL, 0, read_to_end, NULL, 0, NULL);
    if (reader) WaitForSingleObject(reader, 120000);
    CloseHandle(file);
    return 0;
}

struct census_counts {
    DWORD process;
    long windows, tools;
};

static BOOL CALLBACK count_window(HWND window, LPARAM param) {
    census_counts* counts = reinterpret_cast<census_counts*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != counts->process) return TRUE;
    counts->windows++;
    wchar_t name[64] = L"";
    DWORD_PTR tools = 0;
    bool tooltip = GetClassNameW(window, name, 64) && !wcscmp(name, TOOLTIPS_CLASSW);
    if (tooltip && send(window, TTM_GETTOOLCOUNT, 0, 0, &tools)) counts->tools += static_cast<long>(tools);
    return TRUE;
}

// The soak watches these counts over time: a leak shows as steady growth.
static int census(HWND window) {
    census_counts counts = {0, 0, 0};
    GetWindowThreadProcessId(window, &counts.process);
    EnumWindows(count_window, reinterpret_cast<LPARAM>(&counts));
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, counts.process);
    if (!process) return 1;
    DWORD handles = 0;
    long handle_count = GetProcessHandleCount(process, &handles) ? static_cast<long>(handles) : -1;
    long gdi = static_cast<long>(GetGuiResources(process, GR_GDIOBJECTS));
    long user = static_cast<long>(GetGuiResources(process, GR_USEROBJECTS));
    CloseHandle(process);
    printf("handles %ld gdi %ld user %ld windows %ld tools %ld\n", handle_count, gdi, user, counts.windows,
           counts.tools);
    return 0;
}

static int command(int argc, wchar_t** argv);

static std::wstring wide(const std::string& utf8) {
    std::wstring text;
    int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), NULL, 0);
    if (size > 0) {
        text.resize(static_cast<size_t>(size));
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), size);
    }
    return text;
}

static bool read_line(std::string* line) {
    line->clear();
    char c;
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &got, NULL) && got == 1) {
        if (c == '\n') return true;
        if (c != '\r') *line += c;
    }
    return !line->empty();
}

static int serve(const wchar_t* self) {
    std::string line;
    while (read_line(&line)) {
        std::vector<std::wstring> words{self};
        size_t at = 0;
        for (size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1)
            words.push_back(wide(line.substr(at, tab - at)));
        words.push_back(wide(line.substr(at)));
        std::vector<wchar_t*> args;
        for (std::wstring& word : words) args.push_back(word.data());
        args.push_back(NULL);
        int code = command(static_cast<int>(words.size()), args.data());
        fflush(stdout);
        print_utf8(L"\x1e" + std::to_wstring(code));
    }
    return 0;
}

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && !wcscmp(argv[1], L"serve")) return serve(argv[0]);
    return command(argc, argv);
}

static int command(int argc, wchar_t** argv) {
    if (argc == 3 && !wcscmp(argv[1], L"run")) return run(argv[2]);
    if (argc == 4 && !wcscmp(argv[1], L"hold")) return hold(argv[2], argv[3]);
    if (argc == 4 && !wcscmp(argv[1], L"record")) {
        HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE) return 1;
        DWORD done = 0;
        WriteFile(file, argv[3], static_cast<DWORD>(wcslen(argv[3]) * sizeof(wchar_t)), &done, NULL);
        CloseHandle(file);
        return 0;
    }
    if (argc < 3) return 2;
    const wchar_t* verb = argv[1];
    const wchar_t* window_class = argv[2];
    if (!wcscmp(verb, L"wait") && argc == 4) return wait_for(window_class, wcstoul(argv[3], NULL, 10), true) ? 0 : 1;
    if (!wcscmp(verb, L"gone") && argc == 4) return wait_for(window_class, wcstoul(argv[3], NULL, 10), false) ? 0 : 1;

    HWND window = find_window(window_class);
    if (!window) return 1;
    if (!wcscmp(verb, L"close") && argc == 3) return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    if (!wcscmp(verb, L"visible") && argc == 3) return IsWindowVisible(window) ? 0 : 1;
    if (!wcscmp(verb, L"enabled") && argc == 3) return IsWindowEnabled(window) ? 0 : 1;
    if (!wcscmp(verb, L"census") && argc == 3) return census(window);
    if (!wcscmp(verb, L"rect") && argc == 3) {
        RECT r;
        if (!GetWindowRect(window, &r)) return 1;
        printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        return 0;
    }
    if (!wcscmp(verb, L"title") && argc == 3) {
        wchar_t title[512] = L"";
        GetWindowTextW(window, title, 512);
        print_utf8(title);
        return 0;
    }
    if (!wcscmp(verb, L"post") && argc == 6) return post(window, argv + 3);
    if (!wcscmp(verb, L"key") && argc == 4) {
        WPARAM key = wcstoul(argv[3], NULL, 0);
        // Keys go to the window with the focus, as they would from a keyboard.
        HWND target = window;
        DWORD thread = GetWindowThreadProcessId(window, NULL);
        GUITHREADINFO info;
        ZeroMemory(&info, sizeof info);
        info.cbSize = sizeof info;
        if (GetGUIThreadInfo(thread, &info) && info.hwndFocus) target = info.hwndFocus;
        if (!PostMessageW(target, WM_KEYDOWN, key, 1)) return 1;
        // A key that closes the window may take it away before its key-up: the key was pressed all the same.
        PostMessageW(target, WM_KEYUP, key, 0xC0000001);
        return 0;
    }
    if (argc < 4) return 2;
    HWND control = GetDlgItem(window, static_cast<int>(wcstol(argv[3], NULL, 10)));
    if (!control) return 1;
    return control_command(verb, control, argc, argv);
}
