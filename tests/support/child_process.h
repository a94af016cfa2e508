// Running a piece of a test in a forked child: a kill, a crash or a limit set there leaves the test
// process as it was.
#pragma once

#include <unistd.h>

#include <functional>
#include <string>

namespace testsupport {

// Runs `body` in a forked child, given a pipe to write to, SIGKILLed `killAfter` in unless that is
// 0. Returns what the child wrote and reported (empty: success), after how it died if it did
// ("child died of signal 9 ...").
std::string inChild(const std::function<std::string(int)>& body, useconds_t killAfter = 0);

}  // namespace testsupport
