#include "registry/log_settings.h"

extern "C" {
char g_logfile[kLogFileSize] = {};
std::int32_t g_loglevel = 0;
char g_logmode = '\0';
}
