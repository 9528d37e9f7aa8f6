#pragma once
// Numbers in the files and reports the tool writes: a '.' decimal point
// whatever the user's locale says, so that every reader parses them.
#include <string>

// `value` with `decimals` digits after the point ("40.0", "-0.25").
std::string FixedText(double value, int decimals);
