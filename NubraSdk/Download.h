// One HTTP transfer into a local file on a worker thread of its own.
#pragma once

#include <windows.h>

#include <string>

#include "NubraSdk/Proxy.h"

namespace nubra {

struct CDownloadRequest {
    std::wstring strUrl;
    std::wstring strTarget;
    HWND hNotify = nullptr;
    UINT uMsg = 0;
    LONGLONG llExpectedSize = 0;  // used when the server announces no length
    CProxyConfig proxy;
};

// Starts the worker; false when no thread could be started.
bool StartDownload(const CDownloadRequest& request);

}  // namespace nubra
