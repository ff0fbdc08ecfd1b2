#pragma once
// The wait between the requests of a job or a load. Each thread waits in its own way: the
// window's thread installs a wait that keeps its events flowing, tests install a recorder, and
// every other thread simply sleeps.

#include <functional>

// Waits at least that many milliseconds with the calling thread's wait; 0 or less returns at
// once without calling it.
void WaitWithEvents(int milliseconds);

// Installs the wait of the calling thread only; an empty function restores the plain sleep.
void SetWaitFunction(std::function<void(int milliseconds)> wait);
