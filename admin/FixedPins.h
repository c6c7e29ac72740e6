// The two PINs that are fixed values of the build.
#pragma once

// The user PIN that "Set default user pincode" gives a token without one.
constexpr char kDefaultUserPin[] = "4826";
// The SO PIN every token carries from the factory; the default user PIN can
// only be set while the token still has it.
constexpr char kFactorySoPin[] = "tolvane";

static_assert(sizeof kDefaultUserPin - 1 == 4, "the default user PIN is sent as 4 bytes");
static_assert(sizeof kFactorySoPin - 1 == 7, "the factory SO PIN is sent as 7 bytes");
