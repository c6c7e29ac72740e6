// Entry point of TokenManager.exe.
#include <windows.h>

#include "app/StartUp.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show) {
    return RunStartUp(instance, commandLine, show);
}
