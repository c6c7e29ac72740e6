// The key containers of the platform's RSA provider, by name: a PFX import
// makes one per key and must delete each again, so tests compare the names
// before and after.
#pragma once

#include <set>
#include <string>

std::set<std::string> KeyContainerNames();

// Makes a container with a signature key, as another program would:
// `name`, or the provider's default container when null. Returns its name,
// empty when it could not be made.
std::string MakeKeyContainer(const char* name);
void DeleteKeyContainer(const std::string& name);
