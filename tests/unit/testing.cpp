#include "testing.h"

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  BindPlatform();
  BindCheckPlatform();
  char path[MAX_PATH];
  g_temp.assign(path, GetTempPathA(MAX_PATH, path));
  g_testfiles.assign(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
  g_testfiles.replace(g_testfiles.rfind('\\'), std::string::npos, "\\testfiles\\");
  // What the tests write stays: tests/wine-run throws the whole prefix away.
  g_scratch = g_temp, g_scratch = NewFolder();
  return RUN_ALL_TESTS();
}
