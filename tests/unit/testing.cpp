#include "testing.h"

int main(int argc, char **argv) {
  char path[MAX_PATH];
  // A run of its own for the fresh-name test: the number of its first fresh name as exit code.
  if (argc == 2 && !strcmp(argv[1], "--first-fresh-name"))
    return BindPlatform(), MakeFreshName("", "", path) ? strtoul(path, nullptr, 16) : 0;
  testing::InitGoogleTest(&argc, argv);
  BindPlatform();
  BindCheckPlatform();
  g_temp.assign(path, GetTempPathA(MAX_PATH, path));
  g_testfiles.assign(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
  g_testfiles.replace(g_testfiles.rfind('\\'), std::string::npos, "\\testfiles\\");
  // What the tests write stays: tests/wine-run throws the whole prefix away.
  g_scratch = g_temp, g_scratch = NewFolder();
  return RUN_ALL_TESTS();
}
