// A listener on the log: the lines the program logs and the store's own trouble, for those
// that act on them as they happen (alerts). One listener per process.
#pragma once

#include <functional>
#include <string_view>

#include "logbase/logbase_export.h"

struct LogTap {
    // Every line logged, on the thread that logs it, as it is queued, with no lock of the
    // store held. Must not wait (it runs on the link's and the runner's threads).
    std::function<void(int type, int subType, std::string_view content)> line;
    // The store cannot write (the text says which file and why); on the thread that found out.
    std::function<void(std::string_view problem)> trouble;
};

// Replaces the listener; an empty LogTap removes it. A call that started before may still be
// running when this returns: a listener holds what it uses by shared ownership.
LOGBASE_EXPORT void SetLogTap(LogTap tap);
