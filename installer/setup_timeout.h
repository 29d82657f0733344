// /TIMEOUT=: how long the setup may run before the run ends it.
#pragma once

#include <cstdint>
#include <string>

// The longest /TIMEOUT=: a day.
const int kMostTimeoutSeconds = 86400;

// The seconds a /TIMEOUT= value gives: a whole number from 1 to 86400 in
// decimal digits alone (leading zeros allowed); 0 for anything else.
int timeoutSecondsOf(const std::string& value);

// The wait for the setup in milliseconds: -1 (no limit) for 0 seconds.
std::int64_t setupWaitMilliseconds(int timeoutSeconds);

// What the run reports once it has ended a setup that ran out of time.
std::string setupTimedOutText(int timeoutSeconds, const std::string& setupPath);
