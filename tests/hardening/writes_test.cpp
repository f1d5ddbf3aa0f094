// What the real program writes to the machine in a whole install, an update
// and an uninstall: the drive and the registry before and after each, and
// nothing changed outside the places it owns.
#include "install/locations.h"
#include "system/uninstall_entry.h"
#include "tests/e2e/flow_fixture.h"
#include "tests/support/machine_snapshot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace e2e_testing;
using namespace install_testing;
using namespace system_testing;
using testing_support::Differences;
using testing_support::IsAtOrBelow;
using testing_support::MachineState;
using testing_support::NameOf;
using testing_support::TakeMachineState;

const wchar_t kRestartDeletions[] =
    L"HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\:PendingFileRenameOperations";

std::wstring TempFolderPath() {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    return temp;
}

// What the program owns: it may change anything at or below these.
std::vector<std::wstring> OwnedPlaces() {
    return {InstallRootPath(), TempFolderPath(), ProgramsFolder() + L"\\Movora.lnk",
            DesktopFolder() + L"\\Movora.lnk", std::wstring(L"HKCU\\") + kUninstallEntryKey};
}

// What Wine itself records when a program saves a shortcut in the Start menu
// or on the desktop: a Linux desktop entry and menu file for each, in the home
// folder (here also the desktop folder), and their names under its own key.
// Windows has no such thing.
bool IsWineShortcutMirror(const std::wstring& name) {
    return IsAtOrBelow(name, L"HKCU\\Software\\Wine") ||
           name.find(L"\\.config") != std::wstring::npos ||
           name.find(L"\\.local") != std::wstring::npos ||
           (name.size() > 8 && name.compare(name.size() - 8, 8, L".desktop") == 0);
}

// The differences from before to after at no place of allowed, one per line.
// The Uninstall key that holds the entry may be made for it (Windows always
// has it) and stays.
std::string Unexpected(const MachineState& before, const MachineState& after,
                       const std::vector<std::wstring>& allowed) {
    const std::wstring uninstallKey =
        L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    std::string listed;
    for (const std::wstring& difference : Differences(before, after)) {
        const std::wstring name = NameOf(difference);
        if (IsWineShortcutMirror(name) || _wcsicmp(name.c_str(), uninstallKey.c_str()) == 0) {
            continue;
        }
        if (std::none_of(allowed.begin(), allowed.end(),
                         [&](const std::wstring& place) { return IsAtOrBelow(name, place); })) {
            listed += "\n  " + Narrow(difference);
        }
    }
    return listed;
}

class WritesTest : public SetupFlowTest {
  protected:
    // Runs step and returns the drive and registry after it, expecting no
    // change outside the program's own places and allowedToo.
    MachineState Step(const char* what, const MachineState& before,
                      const std::function<void()>& step, const std::wstring& allowedToo = L"") {
        step();
        MachineState after = TakeMachineState();
        std::vector<std::wstring> allowed = OwnedPlaces();
        if (!allowedToo.empty()) {
            allowed.push_back(allowedToo);
        }
        EXPECT_EQ(Unexpected(before, after, allowed), "") << what << " changed these";
        return after;
    }
};

TEST_F(WritesTest, InstallUpdateAndUninstallWriteOnlyWhereTheyBelong) {
    const RestartOperationsGuard restart;
    ASSERT_TRUE(restart.usable()) << "Wine keeps deletions at restart under HKLM";
    const MachineState start = TakeMachineState();

    const MachineState installed = Step("the install", start, [&] {
        ServeRelease(MakeRelease("1.0.0", Layout::Top));
        ASSERT_NO_FATAL_FAILURE(StartSetup());
        ASSERT_TRUE(WaitUntilShown(kStatusRect, L"Ready to install."));
        PressKey("Return");
        ASSERT_TRUE(WaitUntilShown(kStatusRect, L"Movora is installed."));
        ClickPrimaryButton(); // "Open Movora": the app runs from here on
        EXPECT_EQ(WaitForSetupExit(), 0u);
    });
    ASSERT_EQ(ReadRegistryValue(kUninstallEntryKey, L"DisplayVersion").Text(), L"1.0.0");
    // The snapshots see what the install wrote where it belongs.
    const std::vector<std::wstring> installWrites = Differences(start, installed);
    for (const std::wstring& written :
         {AppExePath(), DesktopFolder() + L"\\Movora.lnk", ProgramsFolder() + L"\\Movora.lnk",
          std::wstring(L"HKCU\\") + kUninstallEntryKey + L"\\:DisplayVersion"}) {
        EXPECT_TRUE(std::any_of(installWrites.begin(), installWrites.end(),
                                [&](const std::wstring& difference) {
                                    return _wcsicmp(NameOf(difference).c_str(), written.c_str()) ==
                                           0;
                                }))
            << Narrow(written) << " is not among the install's writes";
    }

    const MachineState updated = Step("the update", installed, [&] {
        ServeRelease(MakeRelease("2.0.0", Layout::OneFolderDown));
        ASSERT_NO_FATAL_FAILURE(StartSetup(L" --update"));
        EXPECT_EQ(WaitForSetupExit(), 0u);
    });
    ASSERT_EQ(ReadRegistryValue(kUninstallEntryKey, L"DisplayVersion").Text(), L"2.0.0");

    // The uninstall asks Windows to delete its temporary copy at the next
    // restart, which Windows keeps under HKLM.
    Step(
        "the uninstall", updated,
        [&] {
            ASSERT_NO_FATAL_FAILURE(StartRegisteredUninstall());
            ASSERT_TRUE(WaitUntilShown(kButtonRect, L"Uninstall"));
            ClickPrimaryButton();
            ASSERT_TRUE(WaitUntilShown(kStatusRect, L"Movora has been removed."));
            ClickPrimaryButton(); // "Close"
            EXPECT_EQ(WaitForSetupExit(), 0u);
        },
        kRestartDeletions);
    EXPECT_FALSE(RegistryKeyExists(kUninstallEntryKey));

    // And all of it together: the machine is as it was, but for the files
    // in the temporary folder and the one deletion at restart.
    EXPECT_EQ(Unexpected(start, TakeMachineState(), {TempFolderPath(), kRestartDeletions}), "")
        << "left behind";
}

} // namespace
