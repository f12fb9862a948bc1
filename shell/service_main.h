// "Pendulark.exe /service" as the service control manager starts it.
#pragma once

// Runs the service until it is stopped; false when the process was not
// started by the control manager.
bool run_service();
