// The program's names and version, written once for the code and the .rc.
// Plain macros, because the resource compiler reads this file too.
#pragma once

// The program file; also the name of the single-instance mutex and of the Run value.
#define PROGRAM_FILE_NAME "Pendulark.exe"
// The main window's class; the dialog template names it too (class names ignore case).
#define PROGRAM_CLASS_NAME "PENDULARK"
// The version as the log header shows it, as the settings file's release digits,
// and as the version resource and the manifest carry it.
#define PROGRAM_VERSION_TEXT "1.15"
#define PROGRAM_RELEASE_DIGITS "150"
#define PROGRAM_VERSION_DOTTED "1.1.5.0"
#define PROGRAM_VERSION_WORDS 1, 1, 5, 0
// The maker as the version resources and the installer name it.
#define PROGRAM_COMPANY_NAME "The Pendulark developers"
#define PROGRAM_COPYRIGHT "Copyright (C) 2026 The Pendulark developers"
