#include "Globals.h"

int g_nWorkMode = 0;
int g_nSuccessCount = 0;
int g_nFailCount = 0;
