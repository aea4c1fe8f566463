#include "logging.h"

namespace FB {

void logInit() {}
void logStop() {}
void logFlush() {}
void logReset() {}

void logTrace(const std::string&, const std::string&, const char*, int, const char*) {}
void logInfo(const std::string&, const std::string&, const char*, int, const char*) {}
void logWarn(const std::string&, const std::string&, const char*, int, const char*) {}
void logError(const std::string&, const std::string&, const char*, int, const char*) {}

} // namespace FB
