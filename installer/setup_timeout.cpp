#include "setup_timeout.h"

int timeoutSecondsOf(const std::string& value) {
    std::string::size_type digits = value.find_first_not_of('0');
    if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
        digits == std::string::npos || value.size() - digits > 5) {
        return 0;
    }
    int seconds = std::stoi(value.substr(digits));
    return seconds <= kMostTimeoutSeconds ? seconds : 0;
}

std::int64_t setupWaitMilliseconds(int timeoutSeconds) {
    return timeoutSeconds > 0 ? timeoutSeconds * 1000LL : -1;
}

std::string setupTimedOutText(int timeoutSeconds, const std::string& setupPath) {
    return "Setup did not finish within " + std::to_string(timeoutSeconds) + " s: " + setupPath;
}
