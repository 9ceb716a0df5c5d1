// A service manager that refuses the program, which Wine never does.
#include <string>

#include "service/service.h"
#include "testing.h"

namespace {

int g_serviceOpens;
int g_closes;

SC_HANDLE WINAPI RefusedManager(LPCSTR, LPCSTR, DWORD) {
  SetLastError(ERROR_ACCESS_DENIED);
  return nullptr;
}
SC_HANDLE WINAPI CountedOpenService(SC_HANDLE, LPCSTR, DWORD) {
  ++g_serviceOpens;
  return nullptr;
}
BOOL WINAPI CountedClose(SC_HANDLE) {
  ++g_closes;
  return TRUE;
}

TEST(Spooler, RefusedManagerLogsTheCodeAndOpensNothingElse) {
  ScopedOverride<decltype(PlatformOps::OpenSCManagerA)> refused(Os.OpenSCManagerA, RefusedManager);
  ScopedOverride<decltype(PlatformOps::OpenServiceA)> open(Os.OpenServiceA, CountedOpenService);
  ScopedOverride<decltype(PlatformOps::CloseServiceHandle)> close(Os.CloseServiceHandle,
                                                                  CountedClose);
  CapturedErrorLog log;
  g_serviceOpens = g_closes = 0;
  EXPECT_EQ(StopSpoolService("spooler"), 0);
  EXPECT_EQ(StartSpoolService("spooler"), 0);
  EXPECT_EQ(g_serviceOpens, 0);
  EXPECT_EQ(g_closes, 0);
  EXPECT_EQ(log.Text(), "OpenSCManager at StopSpoolService FALSE 5 \r\n"
                        "OpenSCManager at StartSpoolService FALSE 5 \r\n");
}

} // namespace
