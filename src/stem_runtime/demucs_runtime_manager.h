#pragma once

#include "platform/error.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>

namespace fotivela {

// A runtime failure; what() is the Spanish description shown after "No se pudo preparar Demucs: ".
class DemucsRuntimeError : public Error {
public:
    using Error::Error;
};

// An installed, verified separation runtime.
struct DemucsRuntimeHandle {
    std::filesystem::path executableURL;
    std::filesystem::path modelRepositoryURL; // passed after "--repo"
    std::string modelName;                    // passed after "-n"
    std::string version;                      // part of the stem cache id
    std::filesystem::path cacheURL;           // given to offlineEnvironment

    friend bool operator==(const DemucsRuntimeHandle&, const DemucsRuntimeHandle&) = default;
};

// Bytes done, bytes expected (0 when unknown).
using DemucsInstallProgress = std::function<void(std::int64_t done, std::int64_t expected)>;

// The process-wide runtime manager. Its work is serialised: concurrent callers of
// readyRuntime share one install task.
class DemucsRuntimeManager {
public:
    static DemucsRuntimeManager& shared();

    // Installs the shipped package on first demand, then answers the active runtime.
    // Blocks the calling worker thread; throws DemucsRuntimeError. A stop request on
    // `stop` abandons this caller's wait (the shared install keeps going unless cancelled).
    DemucsRuntimeHandle readyRuntime(const DemucsInstallProgress& progress = {}, std::stop_token stop = {});

    // Cancels the pending install task, when there is one (a cancelled analysis run does this),
    // and forgets it: the next caller starts a fresh install.
    void cancelPendingInstall();

    DemucsRuntimeManager(const DemucsRuntimeManager&) = delete;
    DemucsRuntimeManager& operator=(const DemucsRuntimeManager&) = delete;

private:
    DemucsRuntimeManager();
    ~DemucsRuntimeManager();
    struct State;
    State* m_state;
};

} // namespace fotivela
