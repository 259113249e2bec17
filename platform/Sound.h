#pragma once
#include <string>

namespace nuq {

// Starts playing a wave file and returns at once. False when no player could
// be started (none installed, or the file is not there).
bool PlayWaveAsync(const std::string& fileName);

} // namespace nuq
