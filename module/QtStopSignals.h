#pragma once
// Ctrl-C, SIGTERM and the like for a headless program on a Qt event loop:
// the signal handler only writes a byte into a socket pair (nothing else is
// safe there), and the loop, reading it, calls `onSignal` on the main thread
// like any other event. For ecg-record and ecg-test, which end a run and
// save what they have rather than die.
#include <functional>
#include <initializer_list>

class QObject;

// Installs the handler for `stopSignals` (SA_RESTART); `onSignal` runs once per
// signal received. Called again, it adds routes (SIGUSR1 to another action,
// say); a signal routed twice runs the later action. The first call's
// `parent` owns the one notifier. False when the socket pair could not be
// made: the signals keep their default action then.
bool RouteStopSignals(QObject& parent, std::initializer_list<int> stopSignals, const std::function<void()>& onSignal);
