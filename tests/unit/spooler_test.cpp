// Stop and start requests against Wine's real service control manager and its "spooler"
// service; the seam only for what Wine grants anyway (the manager itself) and to watch which
// handles are closed.
#include <string>
#include <vector>

#include "service/service.h"
#include "testing.h"

namespace {

// The real calls, wrapped to record what was opened and closed and in which order.
decltype(PlatformOps::OpenSCManagerA) g_realOpenManager;
decltype(PlatformOps::OpenServiceA) g_realOpenService;
decltype(PlatformOps::CloseServiceHandle) g_realClose;
SC_HANDLE g_manager;
SC_HANDLE g_service;
std::vector<std::string> g_closed;
int g_serviceOpens;

SC_HANDLE WINAPI WatchedOpenManager(LPCSTR machine, LPCSTR database, DWORD access) {
  g_manager = g_realOpenManager(machine, database, access);
  return g_manager;
}

SC_HANDLE WINAPI WatchedOpenService(SC_HANDLE manager, LPCSTR name, DWORD access) {
  ++g_serviceOpens;
  g_service = g_realOpenService(manager, name, access);
  return g_service;
}

// Clobbers the last error after closing, so a code read late shows as 1234.
BOOL WINAPI WatchedClose(SC_HANDLE handle) {
  g_closed.push_back(handle == g_manager ? "manager" : handle == g_service ? "service" : "other");
  BOOL closed = g_realClose(handle);
  SetLastError(1234);
  return closed;
}

SC_HANDLE WINAPI RefusedManager(LPCSTR, LPCSTR, DWORD) {
  SetLastError(ERROR_ACCESS_DENIED);
  return nullptr;
}

class Spooler : public testing::Test {
protected:
  Spooler()
      : realOpenManager_(Os.OpenSCManagerA), realOpenService_(Os.OpenServiceA),
        realClose_(Os.CloseServiceHandle), openManager_(Os.OpenSCManagerA, WatchedOpenManager),
        openService_(Os.OpenServiceA, WatchedOpenService),
        close_(Os.CloseServiceHandle, WatchedClose) {
    g_realOpenManager = realOpenManager_;
    g_realOpenService = realOpenService_;
    g_realClose = realClose_;
    Reset();
  }
  void Reset() {
    g_manager = g_service = nullptr;
    g_closed.clear();
    g_serviceOpens = 0;
  }
  std::string Closed() {
    std::string text;
    for (const std::string &c : g_closed)
      text += c + " ";
    return text;
  }

  decltype(PlatformOps::OpenSCManagerA) realOpenManager_;
  decltype(PlatformOps::OpenServiceA) realOpenService_;
  decltype(PlatformOps::CloseServiceHandle) realClose_;
  ScopedOverride<decltype(PlatformOps::OpenSCManagerA)> openManager_;
  ScopedOverride<decltype(PlatformOps::OpenServiceA)> openService_;
  ScopedOverride<decltype(PlatformOps::CloseServiceHandle)> close_;
  CapturedErrorLog log_;
};

// The state of the real spooler, read directly: the product never asks for it.
DWORD SpoolerState() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager ? OpenServiceA(manager, "spooler", SERVICE_QUERY_STATUS) : nullptr;
  SERVICE_STATUS status = {};
  DWORD state = 0;
  if (service && QueryServiceStatus(service, &status))
    state = status.dwCurrentState;
  if (service)
    CloseServiceHandle(service);
  if (manager)
    CloseServiceHandle(manager);
  return state;
}

bool WaitForSpooler(DWORD state) {
  for (int i = 0; i < 100; ++i) {
    if (SpoolerState() == state)
      return true;
    Sleep(50);
  }
  return false;
}

TEST_F(Spooler, StartAndStopTheRealSpoolerWithoutWaiting) {
  if (SpoolerState() != SERVICE_STOPPED) {
    StopSpoolService("spooler");
    ASSERT_TRUE(WaitForSpooler(SERVICE_STOPPED)) << "state " << SpoolerState();
  }
  Reset();

  EXPECT_NE(StartSpoolService("spooler"), 0) << "error " << GetLastError();
  EXPECT_EQ(Closed(), "service manager ");
  ASSERT_TRUE(WaitForSpooler(SERVICE_RUNNING)) << "state " << SpoolerState();

  // A start request for a running service is refused: no line, result 0.
  EXPECT_EQ(StartSpoolService("spooler"), 0);

  Reset();
  EXPECT_NE(StopSpoolService("spooler"), 0) << "error " << GetLastError();
  EXPECT_EQ(Closed(), "service manager ");
  ASSERT_TRUE(WaitForSpooler(SERVICE_STOPPED)) << "state " << SpoolerState();

  // Already stopped: the request is refused, again without a line.
  EXPECT_EQ(StopSpoolService("spooler"), 0);
  EXPECT_EQ(log_.Text(), "");
}

TEST_F(Spooler, UnknownServiceLogsTheOpenFailureWithItsCode) {
  EXPECT_EQ(StopSpoolService("tolvanix no such service"), 0);
  EXPECT_EQ(Closed(), "manager ");
  Reset();
  EXPECT_EQ(StartSpoolService("tolvanix no such service"), 0);
  EXPECT_EQ(Closed(), "manager ");
  EXPECT_EQ(log_.Text(), "OpenService at StopSpoolService FALSE 1060 \r\n"
                         "OpenService at StartSpoolService FALSE 1060 \r\n");
}

TEST_F(Spooler, RefusedManagerLogsTheCodeAndOpensNothingElse) {
  ScopedOverride<decltype(PlatformOps::OpenSCManagerA)> refused(Os.OpenSCManagerA, RefusedManager);
  EXPECT_EQ(StopSpoolService("spooler"), 0);
  EXPECT_EQ(StartSpoolService("spooler"), 0);
  EXPECT_EQ(g_serviceOpens, 0);
  EXPECT_EQ(Closed(), "");
  EXPECT_EQ(log_.Text(), "OpenSCManager at StopSpoolService FALSE 5 \r\n"
                         "OpenSCManager at StartSpoolService FALSE 5 \r\n");
}

} // namespace
