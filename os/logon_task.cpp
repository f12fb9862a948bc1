#include "os/logon_task.h"

std::wstring logon_task_name(const std::wstring& domain, const std::wstring& user) {
    return L"At logon of " + user + L" (" + domain + L")";
}

static std::wstring xml_escaped(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        switch (c) {
            case L'&': out += L"&amp;"; break;
            case L'<': out += L"&lt;"; break;
            case L'>': out += L"&gt;"; break;
            case L'"': out += L"&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

// Without the trigger's user the task would start at anybody's logon. On
// battery too, and for as long as the user keeps the program. The description
// says what starts, for the user who looks in the Task Scheduler.
std::wstring logon_task_xml(const std::wstring& account, const std::wstring& command, const std::wstring& arguments) {
    std::wstring id = xml_escaped(account), start = xml_escaped(command), switches = xml_escaped(arguments);
    return L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
           L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
           L"<RegistrationInfo><Description>Starts " + start + (switches.empty() ? L"" : L" " + switches) +
           L" at the logon of " + id + L"</Description></RegistrationInfo>"
           L"<Triggers><LogonTrigger><Enabled>true</Enabled><UserId>" + id + L"</UserId></LogonTrigger></Triggers>"
           L"<Principals><Principal id=\"Author\"><UserId>" + id + L"</UserId>"
           L"<LogonType>InteractiveToken</LogonType><RunLevel>HighestAvailable</RunLevel></Principal></Principals>"
           L"<Settings><MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>"
           L"<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"
           L"<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>"
           // Normal priority: the scheduler's own default, 7, would run the program and its
           // time server below normal for the whole session.
           L"<ExecutionTimeLimit>PT0S</ExecutionTimeLimit><Priority>5</Priority><Enabled>true</Enabled></Settings>"
           L"<Actions Context=\"Author\"><Exec><Command>" + start + L"</Command>"
           L"<Arguments>" + switches + L"</Arguments></Exec></Actions></Task>";
}
