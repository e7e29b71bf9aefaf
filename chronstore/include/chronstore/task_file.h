// The TimingTask.ini format on its own, for tools, tests and fuzzing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "chronstore/chronstore_export.h"
#include "chronstore/tim_task.h"

// Most tasks and device entries a load builds, whatever counts a damaged file claims.
constexpr int kMaxLoadedTasks = 10000;
constexpr std::size_t kMaxLoadedDevices = 1u << 18;

// The bounds one load applies; tools and fuzzing may choose smaller ones.
struct TimTaskLoadLimits {
    int tasks = kMaxLoadedTasks;
    std::size_t devices = kMaxLoadedDevices;
};

// The tasks a file with this text holds, numbered from `firstId` in file order, all idle.
CHRONSTORE_EXPORT std::vector<TimTaskPoint_> ParseTimTasks(std::string_view iniText,
                                                           std::int32_t firstId,
                                                           TimTaskLoadLimits limits = {});

// The text `existingText` becomes after writing every task key by key with the profile
// rules (stale sections and keys beyond the new counts are kept).
CHRONSTORE_EXPORT std::string FormatTimTasks(std::string_view existingText,
                                             const std::vector<TimTaskPoint_>& tasks);
