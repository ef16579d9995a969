#include "window/Globals.h"

int g_nWorkMode = 0;
int g_nSuccessCount = 0;
int g_nFailCount = 0;

std::atomic<int> g_bSearching{0};
std::atomic<int> g_nSearchPort{0};
std::array<std::atomic<int>, 6> g_nSearchRates{};
std::atomic<int> g_nSearchBaud{0};
std::atomic<int> g_nSearchAddress{0};
std::atomic<int> g_nFoundAddress{0};
std::atomic<const char*> g_strSearchProgress{""};
std::atomic<const char*> g_strSearchResult{""};
std::atomic<unsigned> g_nSearchGeneration{0};
std::mutex g_searchMutex;

int g_nCalibLineLength = 0;
int g_nCalibAddress = 0;
int g_nCountdown = 0;
bool g_bCalibrationDone = false;
