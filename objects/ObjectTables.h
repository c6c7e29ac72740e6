// Tables that describe the rows of the latest object listing, indexed by
// object-list row: the object handle of every row and the hexadecimal CKA_ID
// of every key row. They grow with the listing, however many objects the
// token holds. The window thread alone reads and writes them: the listing
// worker's rows are put in by the window thread together with the rows of
// the list.
#pragma once

#include <string>

#include "cryptoki/Cryptoki.h"

void ClearObjectTables();
void SetObjectRow(int row, CK_OBJECT_HANDLE handle, const std::string& keyIdText);

// 0 / empty for a row the latest listing did not fill.
CK_OBJECT_HANDLE ObjectHandleAt(int row);
std::string KeyIdTextAt(int row);
int ObjectRowCount();
