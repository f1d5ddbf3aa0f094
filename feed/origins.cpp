#include "feed/origins.h"

#include "feed/origins_config.h"

namespace {

// Built before the program starts, not at first use: a local static would
// need the C++ library's guarded initialisation.
const std::string g_releaseServerOrigin = MOVORA_RELEASE_SERVER_ORIGIN_UTF8;
const std::string g_downloadOrigin = MOVORA_DOWNLOAD_ORIGIN_UTF8;

} // namespace

const std::string& ReleaseServerOrigin() {
    return g_releaseServerOrigin;
}

const std::string& DownloadOrigin() {
    return g_downloadOrigin;
}
