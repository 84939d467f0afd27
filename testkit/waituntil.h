#pragma once

#include <functional>

// Runs the event loop until `done` or until `timeoutMs` have passed, and
// says whether it is done. It sleeps between events, unlike a loop of
// processEvents() with a time limit, which would spin and take a core from
// the tool and its servers, and it adds no pause after each event, unlike
// QTest::qWaitFor, whose ten milliseconds a chunk would add up over a download.
bool waitUntil(const std::function<bool()> &done, int timeoutMs = 20000);
