// What a CSR run needs of the main window. Implemented by the main window
// (app/MainWindowHost).
#pragma once

#include "admin/TokenDisplay.h"
#include "objects/Worker.h"

// Its token display, its worker host, and the library's index of a token.
class CsrHost : public TokenDisplay, public WorkerHost {
public:
    // Whether a worker runs: the dialog shows the wait cursor meanwhile.
    virtual bool Busy() const = 0;
    // The index the key-management library knows the token in `slot` by:
    // its position among the slots that hold a token now, or the slot ID
    // when it is not among them.
    virtual int PkeSlotIndex(int slot) const = 0;
    // The buttons and the object list follow the session of the token
    // selected now, as after a worker's run.
    virtual void RestoreButtonsFromSession() = 0;

protected:
    ~CsrHost() = default;
};

