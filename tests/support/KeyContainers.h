// The key containers of the platform's RSA provider, by name: a PFX import
// makes one per key and must delete each again, so tests compare the names
// before and after.
#pragma once

#include <set>
#include <string>

std::set<std::string> KeyContainerNames();
