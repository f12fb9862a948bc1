// Logon tasks of the Task Scheduler of Windows Vista and later, kept in one
// folder of the scheduler's tree. Windows XP has no such scheduler: there every
// call answers false. In the native build the simulated machine keeps them.
#pragma once

// Runs "command" arguments at the current user's logon, with the highest rights
// the user has, as the user's own task of the folder (named by os/logon_task.h);
// an earlier one is replaced.
bool register_logon_task(const char* folder, const char* command, const char* arguments);
// False when the user had no such task, too.
bool delete_logon_task(const char* folder);
// A task by its name, as an older release named it.
bool delete_scheduled_task(const char* folder, const char* name);
// Every task of the folder, and the folder.
bool delete_task_folder(const char* folder);
