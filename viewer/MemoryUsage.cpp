#include "MemoryUsage.h"

#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

int32_t getResidentMemoryKB() {
    std::ostringstream path;
    path << "/proc/" << getpid() << "/status";
    return getResidentMemoryKB(path.str());
}

int32_t getResidentMemoryKB(const std::string& aStatusPath) {
    std::ifstream status(aStatusPath.c_str());
    char line[1024];
    char name[1024];
    while (status.good()) {
        status.getline(line, sizeof(line));
        if (status.fail() && !status.bad() && !status.eof()) {
            // Overlong line (a long "Groups:" list, say): skip the rest of it instead of giving up,
            // since VmRSS usually comes later in the file.
            status.clear();
            status.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
            continue;
        }
        long value = 0;
        if (std::sscanf(line, "%1023s %ld", name, &value) == 2 && std::strcmp(name, "VmRSS:") == 0) {
            return static_cast<int32_t>(value);
        }
    }
    return 0;
}

double getTimeOfDaySeconds() {
    struct timeval now;
    gettimeofday(&now, nullptr);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_usec) * 1e-6;
}

namespace {
double lastReading = -1.0;
}

double getElapsedSeconds() {
    if (lastReading < 0.0) lastReading = getTimeOfDaySeconds();
    const double now = getTimeOfDaySeconds();
    const double result = now - lastReading;
    lastReading = now;
    return result;
}
