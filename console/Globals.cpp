#include "Globals.h"

int g_nWorkMode = 0;

int g_nCalibLineLength = 0;
int g_nCalibAddress = 0;
int g_nCountdown = 0;
bool g_bCalibrationDone = false;
