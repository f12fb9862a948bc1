// Logon tasks of the Task Scheduler of Windows Vista and later, kept in one
// folder of the scheduler's tree. Windows XP has no such scheduler: there every
// call answers false. In the native build the simulated machine keeps them.
#pragma once

// Runs "command" arguments at the current user's logon, with the highest rights
// the user has; a task of that name is replaced.
bool register_logon_task(const char* folder, const char* name, const char* command, const char* arguments);
// False when there was no such task to delete too.
bool delete_scheduled_task(const char* folder, const char* name);
// Every task of the folder, and the folder.
bool delete_task_folder(const char* folder);
