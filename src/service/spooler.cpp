// Stop and start requests to the service control manager. Each sends its one request and
// returns; the caller's fixed sleeps are the only waits.
#include "platform/platform.h"
#include "platform/text.h"
#include "report/report.h"
#include "service/service.h"

namespace {

const int kMessageCapacity = 200;

void LogOpenFailure(const char *format, DWORD code) {
  char line[kMessageCapacity];
  if (FormatText(line, kMessageCapacity, format, static_cast<int>(code)) >= 0)
    AppendErrorLog(line);
}

// Opens the manager and the service; on failure logs the matching line and leaves nothing
// open. The error code is taken before any other call can overwrite it.
SC_HANDLE OpenSpoolService(const char *serviceName, SC_HANDLE *manager, const char *managerLine,
                           const char *serviceLine) {
  *manager = Os.OpenSCManagerA("", nullptr, SC_MANAGER_ALL_ACCESS);
  if (!*manager) {
    LogOpenFailure(managerLine, GetLastError());
    return nullptr;
  }
  SC_HANDLE service = Os.OpenServiceA(*manager, serviceName, SERVICE_ALL_ACCESS);
  if (!service) {
    DWORD code = GetLastError();
    LogOpenFailure(serviceLine, code);
    Os.CloseServiceHandle(*manager);
    *manager = nullptr;
  }
  return service;
}

} // namespace

int StopSpoolService(const char *serviceName) {
  SC_HANDLE manager;
  SC_HANDLE service =
      OpenSpoolService(serviceName, &manager, "OpenSCManager at StopSpoolService FALSE %d \r\n",
                       "OpenService at StopSpoolService FALSE %d \r\n");
  if (!service)
    return 0;
  SERVICE_STATUS status;
  FillBytes(&status, sizeof status, 0);
  int result = Os.ControlService(service, SERVICE_CONTROL_STOP, &status);
  Os.CloseServiceHandle(service);
  Os.CloseServiceHandle(manager);
  return result;
}

int StartSpoolService(const char *serviceName) {
  SC_HANDLE manager;
  SC_HANDLE service =
      OpenSpoolService(serviceName, &manager, "OpenSCManager at StartSpoolService FALSE %d \r\n",
                       "OpenService at StartSpoolService FALSE %d \r\n");
  if (!service)
    return 0;
  int result = Os.StartServiceA(service, 0, nullptr);
  Os.CloseServiceHandle(service);
  Os.CloseServiceHandle(manager);
  return result;
}

int IsServiceRunning(const char *serviceName) {
  SC_HANDLE manager = Os.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager)
    return 0;
  SC_HANDLE service = Os.OpenServiceA(manager, serviceName, SERVICE_QUERY_STATUS);
  SERVICE_STATUS status;
  FillBytes(&status, sizeof status, 0);
  int running = service && Os.QueryServiceStatus(service, &status) &&
                status.dwCurrentState == SERVICE_RUNNING;
  if (service)
    Os.CloseServiceHandle(service);
  Os.CloseServiceHandle(manager);
  return running;
}

int WaitForServiceRunning(const char *serviceName, DWORD ms) {
  const DWORD kStep = 500;
  for (DWORD waited = 0;; waited += kStep) {
    if (IsServiceRunning(serviceName))
      return 1;
    if (waited >= ms)
      break;
    Os.Sleep(kStep);
  }
  char line[kMessageCapacity];
  if (FormatText(line, kMessageCapacity, "WaitSpoolService %s FALSE \r\n", serviceName) >= 0)
    AppendErrorLog(line);
  return 0;
}
