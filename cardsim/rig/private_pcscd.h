// Starting and stopping a pcscd that lives in a mount namespace of its own.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace cardsim::rig {

// Runs pcscd in the foreground in a new mount namespace where `runDir`
// stands in for /run/pcscd, with the reader configuration directory
// `confDir`; its output goes to `logFile`. The daemon leads a process group
// of its own and is killed when the calling thread ends. Needs root. Throws
// std::runtime_error when the process cannot be started; failures inside
// the new process (mounts, exec) show as an early exit with a note in the log.
pid_t SpawnPrivatePcscd(const std::filesystem::path& runDir, const std::filesystem::path& confDir,
                        const std::filesystem::path& logFile);

// Whether the process has ended (it is then reaped).
bool ProcessEnded(pid_t pid);

// Asks the process group led by `pid` to end (SIGTERM), kills it (SIGKILL)
// when it has not ended within `grace`, and reaps the leader.
void StopProcessGroup(pid_t pid, std::chrono::milliseconds grace);

// A block of `count` consecutive TCP ports nobody listens on, below the
// range the system hands out for outgoing connections. Different calls of a
// process, and different processes, are likely to get different blocks.
std::uint16_t PickFreePorts(std::size_t count);

}  // namespace cardsim::rig
