#include "logging/log_interface.h"

namespace vireo {

const LogCategoryName kLogCategoryNames[9] = {
    {L"LC_UTIL", LC_UTIL},     {L"LC_SETUP", LC_SETUP}, {L"LC_SHELL", LC_SHELL},
    {L"LC_CORE", LC_CORE},     {L"LC_JS", LC_JS},       {L"LC_SERVICE", LC_SERVICE},
    {L"LC_OPT", LC_OPT},       {L"LC_NET", LC_NET},     {L"LC_REPORT", LC_REPORT},
};

// Constant-initialised, so it is false before any static initialiser runs.
bool logging_alive = false;

void LogFailedCall(const wchar_t* call, const wchar_t* path) {
  VIREO_LOG(LC_CORE, LL_ERROR, L"%s failed err:%d%s%s", call, ::GetLastError(),
            path ? L" path:" : L"", path ? path : L"");
}

}  // namespace vireo
