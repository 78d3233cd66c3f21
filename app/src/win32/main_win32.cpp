#include <windows.h>

#include "app/setup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return app::RunSetup(); }
