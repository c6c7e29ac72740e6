// The key containers of the user's RSA key store, before and after a PFX
// import. The platform's PFX import puts each key in a container of its
// own; when the import fails half way (Wine's does after the key is in its
// container and a certificate then fails to decode), or when a key belongs
// to no certificate, no certificate names that container and it would stay
// behind with the private key in it. The sweep deletes every container that
// appeared while the import ran.
#pragma once

#include <set>
#include <string>

class KeyContainerSweep {
public:
    // Notes the containers that exist now.
    void Begin();
    // Deletes the containers that did not exist at Begin. Nothing is
    // deleted when the first listing failed.
    void DeleteAppeared() const;

private:
    bool listed_ = false;
    std::set<std::string> before_;
};

// The container names of the user's RSA key store; false when they cannot
// be listed.
bool ListUserKeyContainers(std::set<std::string>* names);
