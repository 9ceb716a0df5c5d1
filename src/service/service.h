// The print spooler's stop and start, and the driver's companion library.
#pragma once

// spooler.cpp
int StopSpoolService(const char *serviceName);
int StartSpoolService(const char *serviceName);
// Whether the service runs now: 1, or 0 when it does not or cannot be asked. Logs nothing.
int IsServiceRunning(const char *serviceName);
// Waits up to ms milliseconds for the service to run. Returns 1 once it runs, else 0 with the
// line "WaitSpoolService <name> FALSE" logged.
int WaitForServiceRunning(const char *serviceName, DWORD ms);

// companion.cpp
static const int kStartRequest = 0;
static const int kStopRequest = 1;
int LoadPrintProcessor();
int KvSplServiceControl(int request);
void UnloadPrintProcessor();
// Whether an export of the library loaded last faulted (the call then counted as failed).
int CompanionCrashed();
// Whether a library that faulted was left loaded: its detach must not run, so the process must
// end without the exit's notifications of its libraries.
int CompanionLeftLoaded();
