// "Pendulark.exe /service install" and "/service remove", for an administrator
// (the installer, or an elevated prompt). Each says why in the machine's log.
#pragma once

// Registers the service, gives the machine's folder the user's settings where
// it has none, and starts it; the process's exit code, 0 on success.
int install_service();
// Stops the service and deletes it; 0 also when there was none.
int remove_service();
