// The codes a run ends with. By default 0 for a success and -1 for any
// failure; with /EXITCODES=msi those deployment tools know from Windows
// Installer: the setup's own restart and retry codes passed on, and 1603 or
// 1639 in place of -1.
#pragma once

const int kExitSuccess = 0;
const int kExitFailure = -1;

const int kMsiRestartNeeded = 3010;
const int kMsiRestartStarted = 1641;
const int kMsiAnotherInstallRunning = 1618;
const int kMsiBadCommandLine = 1639;
const int kMsiFailure = 1603;

// The code of a command line that was refused.
int refusedExitCode(bool msiExitCodes);

// The code of a run that got past the command line: whether the setup ran to
// its end, its exit code, and whether anything stood at its log path after.
int runExitCode(bool msiExitCodes, bool setupRan, int setupStatus, bool logLeft);

// True for the codes that say the product was installed: 0, and the restart
// codes that /EXITCODES=msi passes on.
bool reportsInstalled(int exitCode);
