#include "import/PfxImportState.h"

PfxImportStateRecord PfxImportState;
