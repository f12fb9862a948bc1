// Setting the computer's clock from a server's answer.
#pragma once

// Enables the system-time privilege of the process: 0 when adjusted, 1 otherwise.
int enable_time_privilege();
