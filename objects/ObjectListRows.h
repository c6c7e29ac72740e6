// The rows of a listing and how they reach the object list. The listing
// worker reads objects and sends their rows in batches; the window thread
// puts each batch into the list and the object tables, unless the list
// shows something else by then.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "cryptoki/Cryptoki.h"
#include "objects/ObjectRow.h"

// One object's row: its handle, the hex ID of a key row (empty otherwise)
// and the eight cells.
struct ListedRow {
    CK_OBJECT_HANDLE handle = 0;
    std::string keyIdText;
    ObjectRowCells cells;
};

// Rows read by a listing, the first of them at object-list row `firstRow`.
// `generation` is the object list's generation the listing started on.
struct ObjectRowBatch {
    unsigned generation = 0;
    int firstRow = 0;
    std::vector<ListedRow> rows;
};

// Empties the object list and the object tables. Every emptying starts a
// new generation of the list: rows of a listing started before it are no
// longer taken.
void EmptyObjectList(HWND list);
// The generation the list is in now (never 0).
unsigned ObjectListGeneration();

// On the window thread: puts the batch into `list` and the tables when it
// belongs to the list's generation. False when it does not, or when a row
// cannot stand at its own index (the list was changed meanwhile: export,
// view and delete find an object by its row, so such rows are taken out
// again and the tables describe no row); the listing then stops.
bool AddListedRows(HWND list, const ObjectRowBatch& batch);
// On the window thread: repaints the list when rows went in that it has not
// shown yet. Called when a listing ends, and before a box of the listing
// shows, so that the rows read before it are seen.
void ShowHeldObjectRows(HWND list);
// True while rows are in the list that it has not been repainted for.
bool ObjectRowsAwaitRepaint();
