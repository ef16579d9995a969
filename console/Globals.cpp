#include "Globals.h"

int g_nWorkMode = 0;
