// Starting the program at the user's logon: a Task Scheduler logon task where
// Windows has one (Vista and later), else the per-user Run value.
#pragma once

// Brings the start at logon in step with windows_start_action; false when
// neither a task nor the Run value could be written.
bool update_start_at_logon();
// What the uninstaller asks for: every user's task, and this user's Run value.
void remove_start_at_logon();
