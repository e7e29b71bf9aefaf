// Name and weekday helpers of TimTaskPoint_.
#include "chronstore/tim_task.h"

#include <algorithm>

#include "platform/utf_codec.h"

void SetTimName(TimTaskPoint_& task, std::u16string_view name) {
    name = name.substr(0, std::min(name.find(u'\0'), name.size()));
    std::size_t length = std::min(name.size(), kTimNameMaxLength);
    // Never keep the first half of a surrogate pair without its second half.
    if (length < name.size() && length > 0 && name[length - 1] >= 0xD800 &&
        name[length - 1] <= 0xDBFF)
        --length;
    std::fill(std::begin(task.timName), std::end(task.timName), u'\0');
    std::copy_n(name.begin(), length, task.timName);
}

void SetTimNameUtf8(TimTaskPoint_& task, std::string_view utf8Name) {
    SetTimName(task, platform::utf8ToUtf16(utf8Name));
}

std::u16string GetTimName(const TimTaskPoint_& task) {
    const auto end = std::find(std::begin(task.timName), std::end(task.timName), u'\0');
    return std::u16string(std::begin(task.timName), end);
}

std::string GetTimNameUtf8(const TimTaskPoint_& task) {
    return platform::utf16ToUtf8(GetTimName(task));
}

bool TaskRunsOnWeekday(const TimTaskPoint_& task, int weekday) {
    switch (weekday) {
        case 0:
            return task.sunday;
        case 1:
            return task.monday;
        case 2:
            return task.tuesday;
        case 3:
            return task.wednesday;
        case 4:
            return task.thursday;
        case 5:
            return task.friday;
        case 6:
            return task.saturday;
        default:
            return false;
    }
}
