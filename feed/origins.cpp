#include "feed/origins.h"

#include "feed/origins_config.h"

const std::string& ReleaseServerOrigin() {
    static const std::string origin = MOVORA_RELEASE_SERVER_ORIGIN_UTF8;
    return origin;
}

const std::string& DownloadOrigin() {
    static const std::string origin = MOVORA_DOWNLOAD_ORIGIN_UTF8;
    return origin;
}
