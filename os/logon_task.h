// What a user's logon task is called and what it says, the same in both builds.
#pragma once
#include <string>

// One task per account: bob of a domain and bob of this PC are two users. A
// task's name may not hold the "\" of "DOMAIN\user".
std::wstring logon_task_name(const std::wstring& domain, const std::wstring& user);

// The task's definition: at the logon of account ("DOMAIN\user") only, as that
// user, with the highest rights the user has, at normal priority; command and
// arguments as they stand.
std::wstring logon_task_xml(const std::wstring& account, const std::wstring& command, const std::wstring& arguments);
