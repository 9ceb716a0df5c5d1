// The string table's entries, shared by the resource script and the program.
#pragma once

#define IDS_VERSION 1
#define IDS_CAPTION 2
#define IDS_RESTART 3
#define IDS_UNINSTALLED 4
#define IDS_WRONG_PROCESSOR 5
#define IDS_LOG_NOT_MADE 6
#define IDS_ANOTHER_RUN 7
