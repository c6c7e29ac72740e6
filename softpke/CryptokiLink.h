// The library's link to the Cryptoki module: setCryptoki loads the named
// module into this process (the program's own instance when the program has
// loaded it already) and initialises it; login logs the user in through a
// session of the library's own. The module belongs to the program: the
// library never finalises it and never closes the program's sessions.
#pragma once

namespace softpke {

// setCryptoki. `configuration` names a configuration section; this library
// has none, so only an empty text (or null) is accepted. Library codes:
// 511, 529, 900 (another module is linked already), 901, 902, 903, 905.
int LinkCryptoki(const char* moduleName, const char* configuration);

// login. `slotIndex` counts the slots that hold a token, from 0. The
// answer is the module's return value (CKR_SLOT_ID_INVALID for an index
// past the last token), or 511, 512, 903 before the module is reached.
// A login made earlier by this library is given up first (its session is
// closed; the token stays logged in while the program has sessions on it).
int LoginUser(int userType, int slotIndex, const char* pin);

// Closes the library's session, if any.
void CloseLibrarySession();

}  // namespace softpke
