#pragma once
// The plan ecg-test and the window run when none is chosen: the bytes of
// default-plan.toml beside this header, built into the program so that its
// checksum is the same wherever the program runs. The file itself is
// installed for people to copy and change.
#include <string>
#include <string_view>

inline constexpr std::string_view kDefaultPlanName = "default-plan.toml";
std::string_view DefaultPlanText();
