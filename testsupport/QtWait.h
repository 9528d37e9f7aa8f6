#pragma once
// Waiting on the Qt event loop in tests: for a condition (never for a fixed
// time), or for the loop to fall quiet.
#include <chrono>
#include <functional>

// Spins the event loop until `condition` holds or `timeout` has passed;
// returns the condition's last value.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(20));
// Lets the event loop run until nothing more arrives for `quiet` (for checks
// that something did NOT happen).
void DrainEvents(std::chrono::milliseconds quiet = std::chrono::milliseconds(200));
