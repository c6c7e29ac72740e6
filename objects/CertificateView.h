// Opening a certificate object in the system's certificate viewer.
#pragma once

#include <string>

// Results of ShowCertificate: 0 written and handed to the shell; 1 no
// temporary folder; 3 no memory for the value; 4 reading the value failed;
// 5 the viewer file cannot be written; 10 + rv the length query failed
// (wider than the return code: every code stays above 10).
long long ShowCertificate(int slot, int row);

// The viewer file name for `number`: "<temporary folder>cert<number>.crt".
std::wstring ViewerFilePath(const std::wstring& temporaryFolder, int number);

struct ObjectCommand;

// A double-click on the object list: shows the selected certificate row.
void ShowSelectedCertificate(const ObjectCommand& command);
