// The install job of a build with release keys against a replayed older list:
// the real registry's Uninstall entry as the installed version, a loopback
// release server, the tar stand-in and the real install root.
#include "feed/release_signature.h"
#include "shell/app_state.h"
#include "shell/jobs.h"
#include "shell/text.h"
#include "system/uninstall_entry.h"
#include "tests/install/sequence_fixture.h"
#include "tests/support/release_signing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;
using namespace install_testing;
using testing_support::ScriptedResponse;

namespace {

const wchar_t kOlderRefused[] = L"The release list offers an older version than the one installed.";
const char kListPath[] = "/releases/latest.json";

struct ReplayCase {
    const char* name;
    const char* installed; // empty: nothing installed
    const char* offered;
    bool trustsKeys;
    bool installs;
};

void PrintTo(const ReplayCase& c, std::ostream* out) {
    *out << c.name;
}

class ReplayedListTest : public SequenceTest, public ::testing::WithParamInterface<ReplayCase> {
  protected:
    void SetUp() override {
        SequenceTest::SetUp();
        savedFeed_ = g_app.feedUrl;
        g_app.feedUrl = server_.Url(kListPath);
    }
    void TearDown() override {
        g_app.feedUrl = savedFeed_;
        SequenceTest::TearDown();
    }

    // Serves release's package and a list for it signed with the first test
    // key; returns the package's path on the server.
    std::string ServeSigned(const TestRelease& release) {
        const std::string path = "/releases/Movora-" + release.version + ".zip";
        ScriptedResponse package;
        package.body = ZipBytes(release.entries);
        server_.Script(path, package);
        const ReleaseListValues values{release.version,
                                       testing_support::Utf8Text(server_.Url(path)), "Signed.",
                                       Sha256Hex(package.body)};
        server_.Script(kListPath,
                       ScriptedResponse{200, testing_support::SignedReleaseList(values)});
        return path;
    }
    int RequestsFor(const std::string& path) const {
        const auto requests = server_.Requests();
        return static_cast<int>(std::count_if(requests.begin(), requests.end(),
                                              [&](const auto& r) { return r.target == path; }));
    }
    static std::pair<JobPhase, std::wstring> JobStatus() {
        StatusGuard lock(g_app.statusMutex);
        return {g_app.phase, g_app.statusMessage};
    }

    std::wstring savedFeed_;
};

TEST_P(ReplayedListTest, InstallsOnlyWhatIsNotOlderThanTheInstalledRelease) {
    const ReplayCase& c = GetParam();
    const testing_support::TrustedKeysScope trusted(c.trustsKeys ? testing_support::BothTestKeys()
                                                                 : std::string());
    Tree old;
    if (*c.installed != '\0') {
        InstallEarlier(MakeRelease(c.installed, Layout::Top));
        // A stray file: gone after a repair, still there when nothing changed.
        testing_support::WriteFileBytes(AppFolder() + L"\\stray.txt", "stray");
        old = DigestTree(AppFolder());
    }
    const RegistryPicture oldEntry = PictureOfKey(kUninstallEntryKey);
    const TestRelease offered = MakeRelease(c.offered, Layout::Top);
    const std::string packagePath = ServeSigned(offered);

    CheckAndInstallJob(true);
    if (c.installs) {
        EXPECT_EQ(JobStatus(), std::make_pair(Done, std::wstring(L"Movora is installed.")));
        ExpectInstalled(offered);
        EXPECT_EQ(RequestsFor(packagePath), 1);
    } else {
        EXPECT_EQ(JobStatus(), std::make_pair(Failed, std::wstring(kOlderRefused)));
        EXPECT_EQ(RequestsFor(packagePath), 0) << "a refused list must not download";
        EXPECT_EQ(server_.Requests().size(), 1u) << "only the list may be fetched";
        ExpectOldReleaseKept(old, oldEntry);
        EXPECT_FALSE(fs::exists(Staging()));
        StatusGuard lock(g_app.statusMutex);
        EXPECT_EQ(g_app.latestVersion, L"") << "a refused list's values were taken";
        EXPECT_EQ(g_app.packageUrl, L"");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReplayedListTest,
    ::testing::Values(ReplayCase{"OlderThanInstalledIsRefused", "2.10.0", "2.9.5", true, false},
                      ReplayCase{"OlderByItsFirstNumberIsRefused", "10.0", "9.99.99", true, false},
                      ReplayCase{"SameVersionRepairs", "2.10.0", "2.10.0", true, true},
                      ReplayCase{"NewerInstalls", "2.10.0", "2.10.1", true, true},
                      ReplayCase{"NothingInstalledTakesAnyVersion", "", "0.9", true, true},
                      ReplayCase{"BuildWithoutKeysTakesTheOlder", "2.10.0", "2.9.5", false, true}),
    [](const ::testing::TestParamInfo<ReplayCase>& info) { return info.param.name; });

} // namespace
