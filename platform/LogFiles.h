#pragma once
// Files the program writes for people and shares with other processes: the
// folders they go into and whole records appended under a file lock.

#include <string>
#include <string_view>

namespace nuq {

bool DirectoryExists(const std::string& path);
// Creates the folder and any missing parents; true when it exists afterwards.
bool ForceDirectories(const std::string& path);

// Appends Bytes to the regular file Path, creating it when missing, under an
// exclusive lock that other processes appending the same way respect. It never
// waits on a peer: a path that is not a regular file (a FIFO, a device) is
// refused, and a lock still held by someone else after LockWaitMs of real
// time gives up. A write that cannot be finished (a full disk) is taken back,
// so the file never ends in part of a record. False with the reason in Error.
bool AppendRecord(const std::string& path, std::string_view bytes, int lockWaitMs,
                  std::string& error);

} // namespace nuq
