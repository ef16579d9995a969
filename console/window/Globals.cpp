#include "window/Globals.h"

int g_nWorkMode = 0;
int g_nSuccessCount = 0;
int g_nFailCount = 0;

std::atomic<int> g_bSearching{0};
std::atomic<int> g_nSearchAddress{0};

int g_nCalibLineLength = 0;
int g_nCalibAddress = 0;
int g_nCountdown = 0;
bool g_bCalibrationDone = false;
