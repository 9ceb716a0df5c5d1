// The print spooler's stop and start, and the driver's companion library.
#pragma once

// spooler.cpp
int StopSpoolService(const char *serviceName);
int StartSpoolService(const char *serviceName);

// companion.cpp
static const int kStartRequest = 0;
static const int kStopRequest = 1;
int LoadPrintProcessor();
int KvSplServiceControl(int request);
void UnloadPrintProcessor();
