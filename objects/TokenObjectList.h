// Reading a token's objects into the object list and the object tables.
#pragma once

// Lists the token objects of `slot` (its session in SessionTable) into the
// object list, the handle table and the key-ID table, row by row. 0 when
// the search ran to its end, 1 when it failed (after its report).
int ListTokenObjects(int slot);
