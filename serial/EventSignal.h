#pragma once
// The eventfd wake-ups of the device layer and the event thread: a
// descriptor that poll() sees readable once raised, until drained.
// Raise and Drain may be called from any thread.

// A new non-blocking, close-on-exec descriptor; std::system_error when the
// system has none to give.
int MakeEventSignal();
void RaiseEventSignal(int fd);
void DrainEventSignal(int fd);
