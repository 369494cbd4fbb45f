#ifndef KORVANE_MEMORYUSAGE_H
#define KORVANE_MEMORYUSAGE_H

#include <cstdint>
#include <string>

// Resident set size of this process in kB from /proc/<pid>/status, or 0 when it cannot be read.
int32_t getResidentMemoryKB();

// The value of the "VmRSS:" line of the given status file in kB, or 0 when the file cannot be read
// or has no such line.
int32_t getResidentMemoryKB(const std::string& aStatusPath);

// Wall-clock time in seconds since the epoch.
double getTimeOfDaySeconds();

// Seconds since the previous call (about 0 for the first call). One stopwatch per process: every call
// reads and restarts it.
double getElapsedSeconds();

#endif
