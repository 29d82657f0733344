#include "exit_codes.h"

int refusedExitCode(bool msiExitCodes) {
    return msiExitCodes ? kMsiBadCommandLine : kExitFailure;
}

int runExitCode(bool msiExitCodes, bool setupRan, int setupStatus, bool logLeft) {
    // The setup reports problems through its log: any log it leaves fails the run.
    if (setupRan && setupStatus == 0 && !logLeft) {
        return kExitSuccess;
    }
    if (!msiExitCodes) {
        return kExitFailure;
    }
    if (setupRan && (setupStatus == kMsiRestartNeeded || setupStatus == kMsiRestartStarted ||
                     setupStatus == kMsiAnotherInstallRunning)) {
        return setupStatus;
    }
    return kMsiFailure;
}

bool reportsInstalled(int exitCode) {
    return exitCode == kExitSuccess || exitCode == kMsiRestartNeeded ||
           exitCode == kMsiRestartStarted;
}
