// A Cryptoki function list whose answers are hostile, put in front of the
// software token's list in AppState: slot lists of any size and with any
// IDs, token fields of arbitrary bytes, objects whose attributes the test
// makes up (longer than any buffer, unavailable, lengths that lie), a
// search that never ends, a failure at the n-th call, and an action run at
// the n-th call (a token pulled out in the middle of an operation). Calls it
// does not script go to the software token.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cryptoki/Cryptoki.h"

using AttributeBytes = std::vector<unsigned char>;

struct HostileObject {
    CK_OBJECT_HANDLE handle = 0;
    std::map<CK_ATTRIBUTE_TYPE, AttributeBytes> values;  // the attributes it has
    std::set<CK_ATTRIBUTE_TYPE> unavailable;             // answered CKR_OK with CK_UNAVAILABLE_INFORMATION
    std::map<CK_ATTRIBUTE_TYPE, CK_ULONG> claimedLength; // the answer to a length query, if not the true one
};

struct HostileScript {
    // Slot lists: the count query and the token-present list.
    bool scriptSlots = false;
    CK_ULONG slotCount = 0;
    std::vector<CK_SLOT_ID> tokenSlots;  // written as far as the caller gave room
    CK_ULONG tokenCountAnswer = 0;       // the count answered, whatever the room was
    // Every slot holds a token whose text fields are these bytes, without a
    // blank; sessions of slots the software token lacks go to its slot 0.
    bool hostileTokenInfo = false;
    unsigned char tokenFieldByte = 0xFF;

    // Objects: the search finds these instead of the software token's.
    bool scriptObjects = false;
    std::vector<HostileObject> objects;
    // After the objects, the search hands out further data objects for ever.
    bool endlessSearch = false;
    // A buffer shorter than the value gets what fits, CKR_OK and the true
    // length, as a careless module answers.
    bool overstateLengths = false;

    // Slot events the blocking C_WaitForSlotEvent answers first, in order;
    // it then waits for the software token's events.
    std::vector<CK_SLOT_ID> slotEvents;

    // The failCall-th counted call (1-based, counted from Reset) fails
    // with failRv; 0: none fails.
    long failCall = 0;
    CK_RV failRv = CKR_DEVICE_ERROR;
    // Runs before the actionCall-th counted call is carried out.
    long actionCall = 0;
    std::function<void()> action;
};

// Wraps Cryptoki.FunctionList with the script; RemoveHostileModule puts the
// software token's list back.
void InstallHostileModule(const HostileScript& script);
void RemoveHostileModule();
// Changes the script of the installed module (between operations only).
HostileScript& ActiveScript();

// The counted calls since the last reset, as "C_FindObjects" or, for
// attribute reads, "C_GetAttributeValue:<first type in hex>".
std::vector<std::string> HostileCallLog();
void ResetHostileCalls();
// Queues slot events for the installed module's wait (any time).
void QueueSlotEvents(const std::vector<CK_SLOT_ID>& slots);
bool SlotEventsPending();
// Handles the search handed out since the last reset.
unsigned long HostileHandlesFound();

// A data object with a label, the building block of the scripted objects.
HostileObject DataObject(CK_OBJECT_HANDLE handle, const std::string& label);
AttributeBytes UlongBytes(CK_ULONG value);
