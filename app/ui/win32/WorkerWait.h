// The program's wait for an uploader's worker on the UI thread.
#pragma once

#include <thread>

// Joins worker, serving only the messages other threads send to this one
// meanwhile. The program installs it with SetWorkerWait at start-up.
void WaitServingSentMessages(std::thread& worker);
