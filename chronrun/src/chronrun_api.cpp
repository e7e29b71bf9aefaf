// The exported functions of libchronrun.so.
#include "chronrun/chronrun.h"
#include "chronrun/chronrun_options.h"
#include "runner.h"

using chronrun::Runner;

bool InitChronrun(std::u16string_view /*unused*/) {
    return Runner::instance().init();
}

void ReleaseChronrun() {
    Runner::instance().release();
}

void SetChronrunOptions(const ChronrunOptions& options) {
    Runner::instance().setOptions(options);
}

ChronrunOptions GetChronrunOptions() {
    return Runner::instance().options();
}
