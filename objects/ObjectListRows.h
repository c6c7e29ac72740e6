// Adding rows to the object list from the listing worker. The list belongs
// to the window thread; one message carries a whole batch of rows there,
// instead of one message per cell, since a message between threads costs
// far more than the Cryptoki reads of an object.
#pragma once

#include <windows.h>

#include <vector>

#include "objects/ObjectRow.h"

// Adds `rows` to `list` at index `firstRow` onwards, on the list's own
// thread (directly when called there). Answers how many landed at their
// index: it stops at a row that cannot be put where it belongs (the list
// was emptied meanwhile), and such a row is taken out again, since export,
// view and delete find an object by its row in the handle table.
int AddObjectRows(HWND list, int firstRow, const std::vector<ObjectRowCells>& rows);
