// The program's listing run on the calling thread: the body the listing
// worker runs (ListTokenObjects), with its rows put into `list` and its
// outcome reported as the window thread does with a worker's results. For
// tests that look at the listing itself, without a worker or a main window.
#pragma once

#include <windows.h>

// Lists the token objects of `slot`'s session into `list` and the object
// tables; 0 when the search ran to its end, 1 when it failed.
int ListTokenObjectsHere(HWND list, int slot);
