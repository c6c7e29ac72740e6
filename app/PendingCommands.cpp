// Commands whose features are not in the program yet: each does nothing
// until the feature's own handler replaces it here.
#include "app/Commands.h"
#include "app/SlotMonitor.h"

void OnDisplayObjectsCommand(HWND) {}
void OnDeleteObjectsCommand(HWND) {}

// The slot monitor follows token insertion and removal; until it is in the
// program the token list shows the tokens present at start-up.
void StartSlotMonitor() {}
