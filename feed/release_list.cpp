#include "feed/release_list.h"

#include "feed/http_get.h"
#include "feed/origins.h"
#include "feed/release_keys.h"
#include "feed/release_signature.h"
#include "feed/version_order.h"
#include "shell/app_state.h"
#include "shell/text.h"
#include "system/uninstall_entry.h"

namespace {

// One memory-mode transfer without progress; the error text of a failure
// that left no sentence becomes the generic one.
bool FetchInto(const std::wstring& url, HttpTransfer& transfer, std::wstring& error) {
    transfer = HttpTransfer{};
    if (HttpGet(url, transfer, false)) {
        return true;
    }
    error = transfer.error.empty() ? L"Could not read the release list." : transfer.error;
    return false;
}

// A signed list stays valid for ever, so a server or cache can replay an
// older one. A build with keys therefore never goes back: not below the
// release installed, nor below the one this run has taken already (and the
// window shows), which the install job's second read could otherwise replace.
bool OffersOlderRelease(const std::wstring& version) {
    std::wstring shown;
    {
        StatusGuard lock(g_app.statusMutex);
        shown = g_app.latestVersion;
    }
    return IsOlderVersion(version, shown) || IsOlderVersion(version, ReadInstalledVersion());
}

} // namespace

bool FetchReleaseList(std::wstring& error) {
    // feedUrl is fixed after start-up; no lock needed to read it.
    std::wstring currentUrl = g_app.feedUrl;
    HttpTransfer transfer;
    std::wstring failure;
    if (!FetchInto(currentUrl, transfer, failure)) {
        const std::wstring fallback =
            g_app.cancelRequested.load() ? std::wstring() : RewriteDownloadUrl(currentUrl);
        if (fallback.empty()) {
            error = failure;
            return false;
        }
        // The first failure's sentence is dropped: only the last one counts.
        currentUrl = fallback;
        if (!FetchInto(currentUrl, transfer, failure)) {
            error = failure;
            return false;
        }
    }

    const std::string_view document(transfer.body.data(), transfer.body.size());
    const ReleaseListValues values{
        ExtractJsonBytes(document, "version"), ExtractJsonBytes(document, "package"),
        ExtractJsonBytes(document, "notes"), ExtractJsonBytes(document, "sha256")};
    // A build with keys takes nothing from a list its team has not signed,
    // whichever origin served it; the signature covers the package only
    // through its checksum, so a signed list must name one.
    const std::string_view trustedKeys = TrustedReleaseKeys();
    if (!trustedKeys.empty()) {
        if (!VerifyReleaseSignature(ReleaseListMessage(values),
                                    ExtractJsonBytes(document, "signature"), trustedKeys)) {
            error = L"The release list is not signed by Movora.";
            return false;
        }
        if (values.sha256.empty()) {
            error = L"The release list gives no checksum for the package.";
            return false;
        }
    }
    const std::wstring version = Utf8ToWide(values.version);
    std::wstring package = Utf8ToWide(values.package);
    std::wstring notes = Utf8ToWide(values.notes);
    const std::wstring sha256 = Utf8ToWide(values.sha256);
    if (version.empty() || package.empty()) {
        error = L"The release list is missing a version.";
        return false;
    }
    if (!trustedKeys.empty() && OffersOlderRelease(version)) {
        error = L"The release list offers an older version than the one installed.";
        return false;
    }

    // A list served by the download origin points its package there too.
    if (currentUrl.rfind(Utf8ToWide(DownloadOrigin()), 0) == 0) {
        std::wstring moved = RewriteDownloadUrl(package);
        if (!moved.empty()) {
            package = std::move(moved);
        }
    }
    if (notes.size() > kReleaseNotesLimit) {
        notes.resize(kReleaseNotesLimit);
    }

    StatusGuard lock(g_app.statusMutex);
    g_app.latestVersion = version;
    g_app.packageUrl = package;
    g_app.releaseNotes = notes;
    g_app.packageSha256 = sha256;
    return true;
}

std::wstring ExtractJsonString(std::string_view document, std::string_view key) {
    return Utf8ToWide(ExtractJsonBytes(document, key));
}

std::string ExtractJsonBytes(std::string_view document, std::string_view key) {
    std::string needle;
    needle.reserve(key.size() + 2);
    needle.append(1, '"').append(key).append(1, '"');
    const size_t keyAt = document.find(needle);
    if (keyAt == std::string_view::npos) {
        return std::string();
    }
    const size_t afterKey = keyAt + needle.size();
    if (afterKey >= document.size()) {
        return std::string();
    }
    const size_t colon = document.find(':', afterKey);
    if (colon == std::string_view::npos) {
        return std::string();
    }
    const size_t openingQuote = document.find('"', colon + 1);
    if (openingQuote == std::string_view::npos) {
        return std::string();
    }

    std::string value;
    for (size_t i = openingQuote + 1; i < document.size(); ++i) {
        const char byte = document[i];
        if (byte == '\\' && i + 1 < document.size()) {
            const char escaped = document[++i];
            if (escaped == 'n') {
                value.push_back('\n');
            } else if (escaped != 'r') {
                value.push_back(escaped);
            }
        } else if (byte == '"') {
            break;
        } else {
            value.push_back(byte);
        }
    }
    return value;
}

std::wstring RewriteDownloadUrl(const std::wstring& url) {
    const std::wstring releaseOrigin = Utf8ToWide(ReleaseServerOrigin());
    const std::wstring downloadOrigin = Utf8ToWide(DownloadOrigin());
    const size_t at = url.find(releaseOrigin);
    if (releaseOrigin.empty() || at == std::wstring::npos) {
        return std::wstring();
    }
    std::wstring moved = url;
    moved.replace(at, releaseOrigin.size(), downloadOrigin);
    return moved;
}
