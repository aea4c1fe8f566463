// The framework's log hooks and the statements that feed them.
//
// Every log statement of the framework builds its message and hands it to one
// of these hooks. In this plugin the hooks do nothing, so nothing the
// framework logs is written anywhere; they stay so that a build can route the
// messages somewhere without touching the callers.
// The hooks may be called from any thread. The FBLOG_* statements never
// throw: a failure while building a message is dropped, so they are safe in
// destructors and in functions that must not let an exception out.
#ifndef FB_LOGGING_H
#define FB_LOGGING_H

#include <sstream>
#include <string>

namespace FB {

void logInit();
void logStop();
// Parameterless hooks that nothing in this plugin calls.
void logFlush();
void logReset();

void logTrace(const std::string& category, const std::string& message,
              const char* file, int line, const char* function);
void logInfo(const std::string& category, const std::string& message,
             const char* file, int line, const char* function);
void logWarn(const std::string& category, const std::string& message,
             const char* file, int line, const char* function);
void logError(const std::string& category, const std::string& message,
              const char* file, int line, const char* function);

} // namespace FB

// FBLOG_INFO("BrowserHost", "Logging to HTML: " << msg);
#define FB_LOG_STATEMENT(hook, category, streamed)                          \
    do {                                                                    \
        try {                                                               \
            std::ostringstream fb_log_text_;                                \
            fb_log_text_ << streamed;                                       \
            ::FB::hook((category), fb_log_text_.str(), __FILE__, __LINE__,  \
                       __func__);                                           \
        } catch (...) {                                                     \
        }                                                                   \
    } while (false)

#define FBLOG_TRACE(category, streamed) FB_LOG_STATEMENT(logTrace, category, streamed)
#define FBLOG_INFO(category, streamed) FB_LOG_STATEMENT(logInfo, category, streamed)
#define FBLOG_WARN(category, streamed) FB_LOG_STATEMENT(logWarn, category, streamed)
#define FBLOG_ERROR(category, streamed) FB_LOG_STATEMENT(logError, category, streamed)

#endif
