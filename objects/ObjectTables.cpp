#include "objects/ObjectTables.h"

#include <vector>

namespace {

std::vector<CK_OBJECT_HANDLE> ObjectHandleTable;
std::vector<std::string> KeyIdTextTable;

}  // namespace

void ClearObjectTables() {
    ObjectHandleTable.clear();
    KeyIdTextTable.clear();
}

void SetObjectRow(int row, CK_OBJECT_HANDLE handle, const std::string& keyIdText) {
    if (row < 0)
        return;
    const size_t index = static_cast<size_t>(row);
    if (ObjectHandleTable.size() <= index) {
        ObjectHandleTable.resize(index + 1, 0);
        KeyIdTextTable.resize(index + 1);
    }
    ObjectHandleTable[index] = handle;
    KeyIdTextTable[index] = keyIdText;
}

CK_OBJECT_HANDLE ObjectHandleAt(int row) {
    if (row < 0 || static_cast<size_t>(row) >= ObjectHandleTable.size())
        return 0;
    return ObjectHandleTable[static_cast<size_t>(row)];
}

std::string KeyIdTextAt(int row) {
    if (row < 0 || static_cast<size_t>(row) >= KeyIdTextTable.size())
        return std::string();
    return KeyIdTextTable[static_cast<size_t>(row)];
}

int ObjectRowCount() {
    return static_cast<int>(ObjectHandleTable.size());
}
