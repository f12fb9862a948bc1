// The one header for system services. On Windows it is the real API; in the
// native build it declares a small simulated machine (tests/sim/) with the same
// names, so that the components read the same in both builds.
#pragma once

#ifdef _WIN32

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#else

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <stdint.h>
#include <sys/socket.h>
#include <unistd.h>

typedef uint32_t DWORD;
typedef uint64_t ULONGLONG;
typedef int BOOL;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint16_t WCHAR;
typedef unsigned int UINT;
typedef char CHAR;
typedef void* HANDLE;
typedef void* LPVOID;
typedef HANDLE HKEY;
typedef HANDLE HWND;
typedef uintptr_t WPARAM;
typedef uintptr_t UINT_PTR;
typedef uintptr_t DWORD_PTR;
typedef HANDLE HINSTANCE;
typedef HANDLE HMENU;
typedef HANDLE HICON;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef DWORD LCID;
typedef DWORD* LPDWORD;
typedef DWORD REGSAM;
typedef uintptr_t SOCKET;
typedef struct sockaddr SOCKADDR;
typedef struct sockaddr_in SOCKADDR_IN;

#define TRUE 1
#define FALSE 0
#define WINAPI
#define MAX_PATH 260

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
struct SYSTEMTIME {
    WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};
struct TIME_ZONE_INFORMATION {
    LONG Bias;
    WCHAR StandardName[32];
    SYSTEMTIME StandardDate;
    LONG StandardBias;
    WCHAR DaylightName[32];
    SYSTEMTIME DaylightDate;
    LONG DaylightBias;
};
// The same fields first, then the key.
struct DYNAMIC_TIME_ZONE_INFORMATION : TIME_ZONE_INFORMATION {
    WCHAR TimeZoneKeyName[128];
    BYTE DynamicDaylightTimeDisabled;
};
struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize, dwMajorVersion, dwMinorVersion, dwBuildNumber, dwPlatformId;
    CHAR szCSDVersion[128];
};
struct LUID {
    DWORD LowPart;
    LONG HighPart;
};
struct LUID_AND_ATTRIBUTES {
    LUID Luid;
    DWORD Attributes;
};
struct TOKEN_PRIVILEGES {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[1];
};
struct WSADATA {
    WORD wVersion, wHighVersion;
    char szDescription[257], szSystemStatus[129];
};
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);

// Errors
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_FILE_EXISTS 80L
#define ERROR_LOCK_VIOLATION 33L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_NOT_ALL_ASSIGNED 1300L
#define ERROR_PRIVILEGE_NOT_HELD 1314L
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

// Files
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 1u
#define FILE_SHARE_WRITE 2u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define FILE_BEGIN 0
#define FILE_END 2
#define INVALID_FILE_SIZE 0xFFFFFFFFu
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu
#define MOVEFILE_REPLACE_EXISTING 1u
#define MOVEFILE_WRITE_THROUGH 8u
#define DRIVE_UNKNOWN 0
#define DRIVE_REMOVABLE 2
#define DRIVE_FIXED 3
#define CSIDL_APPDATA 26
#define CSIDL_COMMON_APPDATA 35

HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD flags, HANDLE template_file);
BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* done, void* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* done, void* overlapped);
DWORD GetFileSize(HANDLE file, DWORD* high);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* high, DWORD method);
BOOL FlushFileBuffers(HANDLE file);
BOOL CloseHandle(HANDLE object);
BOOL DeleteFileA(const char* name);
BOOL MoveFileExA(const char* from, const char* to, DWORD flags);
BOOL CopyFileA(const char* from, const char* to, BOOL fail_if_exists);
BOOL CreateDirectoryA(const char* name, void* security);
typedef HANDLE HMODULE;
DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size);
// The simulated machine is a Windows 7: of the entries found by name it has
// GetDynamicTimeZoneInformation, and none that only later ones have.
typedef void (*FARPROC)();
HMODULE GetModuleHandleA(const char* name);
FARPROC GetProcAddress(HMODULE module, const char* name);
UINT GetDriveTypeA(const char* root);
BOOL SHGetSpecialFolderPathA(HWND owner, char* path, int csidl, BOOL create);
const char* GetCommandLineA();
DWORD GetLastError();
void SetLastError(DWORD code);

// Synchronisation and threads
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
HANDLE CreateMutexA(void* security, BOOL initial_owner, const char* name);
HANDLE CreateEventA(void* security, BOOL manual_reset, BOOL initial_state, const char* name);
BOOL SetEvent(HANDLE event);
HANDLE CreateThread(void* security, size_t stack, LPTHREAD_START_ROUTINE start, LPVOID param,
                    DWORD flags, DWORD* thread_id);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
void Sleep(DWORD milliseconds);
[[noreturn]] void ExitProcess(UINT code);
HANDLE GetCurrentProcess();

// Time
#define TIME_ZONE_ID_UNKNOWN 0u
#define TIME_ZONE_ID_STANDARD 1u
#define TIME_ZONE_ID_DAYLIGHT 2u
#define TIME_ZONE_ID_INVALID 0xFFFFFFFFu
// Refused (1314) unless "SeTimeZonePrivilege" was enabled, as on Vista and later.
BOOL SetTimeZoneInformation(const TIME_ZONE_INFORMATION* zone);
void GetSystemTimeAsFileTime(FILETIME* now);
void GetSystemTime(SYSTEMTIME* now);
void GetLocalTime(SYSTEMTIME* now);
BOOL SetSystemTime(const SYSTEMTIME* time);
BOOL GetSystemTimeAdjustment(DWORD* adjustment, DWORD* increment, BOOL* disabled);
BOOL SetSystemTimeAdjustment(DWORD adjustment, BOOL disabled);
BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft);
BOOL FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st);
DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* zone);
DWORD GetTickCount();
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);

// Formats of the simulated user (English, United States): the default time
// format "h:mm:ss tt", the long date "dddd, MMMM d, yyyy". A picture may use
// HH, H, hh, h, mm, m, ss, s, tt and quoted literals.
#define DATE_LONGDATE 2u
int GetTimeFormatA(LCID locale, DWORD flags, const SYSTEMTIME* time, const char* format, char* out, int size);
int GetDateFormatA(LCID locale, DWORD flags, const SYSTEMTIME* date, const char* format, char* out, int size);

// Windows: broadcasts are counted; combo boxes of dialogs are lists of texts;
// every other control is a text, an enabled flag and its tooltips; timers are
// recorded with their periods and fire only when a test calls their handler.
#define HWND_BROADCAST ((HWND)(uintptr_t)0xFFFF)
#define WM_TIMECHANGE 0x001Eu
#define WM_POWERBROADCAST 0x0218u
#define WM_DRAWITEM 0x002Bu
#define PBT_APMRESUMESUSPEND 0x0007u
#define PBT_APMRESUMEAUTOMATIC 0x0012u
#define WM_WININICHANGE 0x001Au
#define CP_ACP 0u
#define BST_UNCHECKED 0u
#define BST_CHECKED 1u
// UTF-16 to the simulated ANSI code page: ASCII as it is, anything else "?".
int WideCharToMultiByte(UINT page, DWORD flags, const WCHAR* text, int length, char* out, int size,
                        const char* fallback, BOOL* used_fallback);
BOOL CheckDlgButton(HWND dialog, int control, UINT state);
BOOL CheckRadioButton(HWND dialog, int first, int last, int checked);
// Up-down controls keep their range; date pickers their date.
#define UDM_SETRANGE32 (WM_USER + 111)
#define DTM_GETSYSTEMTIME 0x1001u
#define DTM_SETSYSTEMTIME 0x1002u
#define GDT_VALID 0
UINT IsDlgButtonChecked(HWND dialog, int control);
#define WM_USER 0x0400u
#define WM_APP 0x8000u
#define HWND_TOPMOST ((HWND)(intptr_t)-1)
#define HWND_NOTOPMOST ((HWND)(intptr_t)-2)
#define SWP_NOSIZE 0x1u
#define SWP_NOMOVE 0x2u
#define SWP_NOACTIVATE 0x10u
#define SW_SHOWNORMAL 1
#define WS_EX_TOPMOST 0x8u
#define TTS_ALWAYSTIP 0x1u
#define TTF_IDISHWND 0x1u
#define TTF_SUBCLASS 0x10u
#define TTM_ADDTOOLA (WM_USER + 4)
#define TTM_DELTOOLA (WM_USER + 5)
#define TOOLTIPS_CLASSA "tooltips_class32"
#define CW_USEDEFAULT ((int)0x80000000)
struct RECT {
    LONG left, top, right, bottom;
};
struct TOOLINFOA {
    UINT cbSize, uFlags;
    HWND hwnd;
    UINT_PTR uId;
    RECT rect;
    HINSTANCE hinst;
    char* lpszText;
    LPARAM lParam;
    void* lpReserved;
};
typedef void (*TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);
typedef intptr_t INT_PTR;
#define CALLBACK
typedef INT_PTR (*DLGPROC)(HWND, UINT, WPARAM, LPARAM);
#define WM_INITDIALOG 0x0110u
#define WM_COMMAND 0x0111u
#define IDOK 1
#define IDCANCEL 2
#define SW_MINIMIZE 6
#define LOWORD(l) ((WORD)((uintptr_t)(l) & 0xFFFF))
#define MAKEINTRESOURCEA(i) ((const char*)(uintptr_t)(WORD)(i))
// A modal dialog opens, takes WM_INITDIALOG and is closed at once; tests see
// which templates were shown.
INT_PTR DialogBoxParamA(HINSTANCE instance, const char* name, HWND owner, DLGPROC procedure, LPARAM param);
BOOL EndDialog(HWND dialog, INT_PTR result);
typedef intptr_t LONG_PTR;
#define DWLP_USER 16
LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrA(HWND window, int index);
BOOL ShowWindow(HWND window, int command);
HWND SetFocus(HWND window);
#define SW_SHOW 5
#define WM_TIMER 0x0113u
BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
BOOL SetForegroundWindow(HWND window);
#define SW_HIDE 0
#define SW_RESTORE 9
#define WM_LBUTTONDBLCLK 0x0203u
#define WM_RBUTTONDOWN 0x0204u
#define WM_RBUTTONUP 0x0205u
// The notification area keeps one icon record; without a taskbar adding fails.
#define NIM_ADD 0u
#define NIM_MODIFY 1u
#define NIM_DELETE 2u
#define NIF_MESSAGE 1u
#define NIF_ICON 2u
#define NIF_TIP 4u
#define NOTIFYICONDATAA_V2_SIZE 488
struct NOTIFYICONDATAA {
    DWORD cbSize;
    HWND hWnd;
    UINT uID, uFlags, uCallbackMessage;
    HICON hIcon;
    CHAR szTip[128];
};
BOOL Shell_NotifyIconA(DWORD action, NOTIFYICONDATAA* data);
// Popup menus: the last one tracked is kept for the tests.
struct POINT {
    LONG x, y;
};
#define MF_STRING 0u
#define MF_SEPARATOR 0x800u
#define TPM_RIGHTBUTTON 8u
HMENU CreatePopupMenu();
BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, const char* text);
BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner, void* params);
BOOL DestroyMenu(HMENU menu);
BOOL GetCursorPos(POINT* at);
BOOL DestroyWindow(HWND window);
HWND GetDlgItem(HWND dialog, int control);
BOOL SetDlgItemTextA(HWND dialog, int control, const char* text);
UINT GetDlgItemTextA(HWND dialog, int control, char* text, int size);
BOOL SetWindowTextA(HWND window, const char* text);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC procedure);
BOOL KillTimer(HWND window, UINT_PTR id);
HWND CreateWindowExA(DWORD ex_style, const char* class_name, const char* name, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
BOOL SetWindowPos(HWND window, HWND after, int x, int y, int width, int height, UINT flags);
HINSTANCE ShellExecuteA(HWND owner, const char* verb, const char* file, const char* parameters,
                        const char* directory, int show);
BOOL GetComputerNameA(char* name, DWORD* size);
BOOL GetUserNameA(char* name, DWORD* size);
UINT RegisterWindowMessageA(const char* name);
void PostQuitMessage(int code);
ULONGLONG GetTickCount64();
#define CB_GETCOUNT 0x0146u
#define CB_GETCURSEL 0x0147u
#define CB_GETLBTEXT 0x0148u
#define CB_INSERTSTRING 0x014Au
#define CB_RESETCONTENT 0x014Bu
#define CB_SETCURSEL 0x014Eu
#define CB_ERR (-1)
LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
#define SMTO_ABORTIFHUNG 0x0002
LRESULT SendMessageTimeoutA(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT flags, UINT timeout,
                            DWORD_PTR* result);
LRESULT SendDlgItemMessageA(HWND dialog, int control, UINT message, WPARAM wparam, LPARAM lparam);

// Registry
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define KEY_QUERY_VALUE 1u
#define KEY_SET_VALUE 2u
#define KEY_WRITE 0x20006u
#define KEY_READ 0x20019u
#define REG_OPTION_NON_VOLATILE 0u
#define REG_SZ 1u
LONG RegCreateKeyExA(HKEY key, const char* sub_key, DWORD reserved, char* cls, DWORD options,
                     REGSAM sam, void* security, HKEY* result, DWORD* disposition);
LONG RegOpenKeyExA(HKEY key, const char* sub_key, DWORD options, REGSAM sam, HKEY* result);
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size);
LONG RegDeleteValueA(HKEY key, const char* name);
LONG RegCloseKey(HKEY key);

// Security
#define VER_PLATFORM_WIN32_NT 2u
#define TOKEN_ADJUST_PRIVILEGES 0x20u
#define TOKEN_QUERY 0x8u
#define SE_PRIVILEGE_ENABLED 2u
BOOL GetVersionExA(OSVERSIONINFOA* info);
BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token);
BOOL LookupPrivilegeValueA(const char* system, const char* name, LUID* luid);
BOOL AdjustTokenPrivileges(HANDLE token, BOOL disable_all, TOKEN_PRIVILEGES* state, DWORD length,
                           TOKEN_PRIVILEGES* previous, DWORD* returned);

// Sockets: the host's BSD sockets under their Winsock names.
#define INVALID_SOCKET (~(SOCKET)0)
#define SOCKET_ERROR (-1)
#ifndef SOMAXCONN
#define SOMAXCONN 4096
#endif
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAECONNRESET 10054
#define WSAECONNREFUSED 10061
#define WSAEHOSTUNREACH 10065
int WSAStartup(WORD version, WSADATA* data);
int WSACleanup();
// The last socket call's errno under its Winsock number.
int WSAGetLastError();
int closesocket(SOCKET s);
// IPv6 sockets are refused, as on a Windows without its IPv6 stack, unless a
// test asks for them: the machine's one ::1 has no address of each test's own.
SOCKET os_socket(int family, int type, int protocol);
#define socket os_socket
// A reverse look-up finds only the hosts added by the tests.
hostent* os_gethostbyaddr(const char* address, int length, int type);
#define gethostbyaddr os_gethostbyaddr
// The simulated machine's "every interface" is the test's own loopback address,
// so that servers of parallel test processes never meet on a port.
int os_bind(SOCKET s, const sockaddr* address, socklen_t length);
#define bind os_bind
// Counted, so that a test knows when a server is ready for its clients.
int os_listen(SOCKET s, int backlog);
#define listen os_listen
// Unreachable while the test holds the network down.
int os_connect(SOCKET s, const sockaddr* address, socklen_t length);
#define connect os_connect

// Services: the status reported to the service control manager is kept for
// the tests; the control handler is called by the tests themselves.
typedef HANDLE SERVICE_STATUS_HANDLE;
struct SERVICE_STATUS {
    DWORD dwServiceType, dwCurrentState, dwControlsAccepted, dwWin32ExitCode, dwServiceSpecificExitCode,
        dwCheckPoint, dwWaitHint;
};
#define NO_ERROR 0L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define SERVICE_WIN32_OWN_PROCESS 0x10u
#define SERVICE_STOPPED 1u
#define SERVICE_START_PENDING 2u
#define SERVICE_STOP_PENDING 3u
#define SERVICE_RUNNING 4u
#define SERVICE_ACCEPT_STOP 0x1u
#define SERVICE_ACCEPT_SHUTDOWN 0x4u
#define SERVICE_ACCEPT_POWEREVENT 0x40u
#define SERVICE_ACCEPT_TIMECHANGE 0x200u
#define SERVICE_CONTROL_STOP 0x1u
#define SERVICE_CONTROL_INTERROGATE 0x4u
#define SERVICE_CONTROL_SHUTDOWN 0x5u
#define SERVICE_CONTROL_POWEREVENT 0xDu
#define SERVICE_CONTROL_TIMECHANGE 0x10u
#define PBT_APMSUSPEND 0x0004u
BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, SERVICE_STATUS* status);
// The control manager as a window asks it: whether the service is registered
// and in which state.
typedef HANDLE SC_HANDLE;
#define SC_MANAGER_CONNECT 0x1u
#define SERVICE_QUERY_STATUS 0x4u
SC_HANDLE OpenSCManagerA(const char* machine, const char* database, DWORD access);
SC_HANDLE OpenServiceA(SC_HANDLE manager, const char* name, DWORD access);
BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status);
BOOL CloseServiceHandle(SC_HANDLE handle);
// A named pipe's one exchange: the tests stand at its other end (none: no pipe there).
#define ERROR_MORE_DATA 234L
#define NMPWAIT_NOWAIT 1u
BOOL CallNamedPipeA(const char* name, void* in, DWORD in_size, void* out, DWORD out_size, DWORD* read,
                    DWORD timeout);

#endif
