// Starting the installer through the shell and waiting for it while the message queue is
// looked at.
#pragma once

#include <cstdint>
#include <string>

#include "loader/platform.h"

namespace vo {

// How long one wait for the started process lasts before the queue is looked at.
inline constexpr uint32_t kLaunchPollMilliseconds = 100;

// Opens File with Parameters through the shell and, when Wait is set, waits until the process
// ends. Returns its exit code read as a signed number, or -1 when the shell could not start it
// or its exit code could not be read. Without Wait a started process gives 0.
int32_t LaunchAndWait(TPlatform& platform, const std::string& File, const std::string& Parameters,
                      uint16_t ShowCommand, bool Wait);

}  // namespace vo
