// Read-outs of this process's resources: descriptors, threads, resident memory, CPU time.
#pragma once

#include <cstddef>
#include <string>

namespace faulttest {

std::size_t openDescriptors();
// What each open descriptor refers to, one "fd -> target" line each (for failure messages).
std::string describeDescriptors();
std::size_t threadCount();
std::size_t residentKiB();
double cpuSeconds();

// True in builds whose allocator keeps freed memory back (AddressSanitizer's quarantine),
// where resident memory says nothing about leaks (LeakSanitizer covers those builds).
bool residentMemoryIsMeaningful();

}  // namespace faulttest
