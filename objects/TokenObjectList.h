// Reading a token's objects into the object list and the object tables.
#pragma once

// Lists the token objects of `slot` (its session in SessionTable) into the
// object list, the handle table and the key-ID table, row by row. 0 when
// the search ran to its end, 1 when it failed (after its report).
int ListTokenObjects(int slot);

// A token holds tens of objects; a module whose search hands out handles
// without end would keep the listing, and the wait cursor, for ever. The
// listing ends the search after this many rows and says so in a box
// (caption "Display objects").
constexpr int kMaxListedObjects = 10000;
extern const wchar_t kTooManyObjectsText[];
