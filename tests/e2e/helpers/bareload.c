/* The control for the planting scenarios: does what a careless program does (libraries by
 * bare name, Notepad through WinExec with a bare "notepad"), so each plant must show up.
 * If it does not, the planting scenarios prove nothing. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE inst, HINSTANCE prev, LPSTR args, int show) {
  (void)inst;
  (void)prev;
  (void)args;
  (void)show;
  LoadLibraryA("version.dll");
  LoadLibraryA("lz32.dll");
  WinExec("notepad  C:\\tolvbed\\nothing.txt", SW_SHOW);
  return 0;
}
