// tests/support/DirectoryLock.h
#pragma once

#include <mutex>

#include "core/peers/PeerDirectory.h"

// The directory's own lock, for tests that hold it to see who waits for it,
// or that check whether it is free.
struct PeerDirectoryInspector {
    static std::recursive_mutex& Lock(const PeerDirectory& directory) { return directory.m_lock; }
};

inline std::recursive_mutex& LockOf(const PeerDirectory& directory) {
    return PeerDirectoryInspector::Lock(directory);
}
