// Message texts for the statuses that the key-management library reports.
#pragma once

#include <cstddef>

// The text for `code`; "Unknown return code" for a code the table lacks.
// Never null.
const char* pkeResultText(unsigned int code);

// Number of codes that have a text of their own.
size_t pkeResultCount();
