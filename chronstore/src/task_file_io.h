// Reading tasks from and writing tasks into a TimingTask.ini document.
#pragma once

#include <cstdint>
#include <vector>

#include "chronstore/task_file.h"
#include "chronstore/tim_task.h"
#include "platform/ini_document.h"

namespace chronstore {

std::vector<TimTaskPoint_> loadTimTasks(const platform::IniDocument& doc, std::int32_t firstId,
                                        TimTaskLoadLimits limits = {});
void writeTimTasks(platform::IniDocument& doc, const std::vector<TimTaskPoint_>& tasks);

}  // namespace chronstore
