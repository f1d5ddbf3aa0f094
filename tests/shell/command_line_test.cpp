#include "shell/command_line.h"

#include "shell/app_state.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

struct CommandLineCase {
    const wchar_t* line;
    bool update;
    bool uninstall;
    const wchar_t* feed;
};

// The command line as typed (its texts are ASCII).
void PrintTo(const CommandLineCase& c, std::ostream* out) {
    for (const wchar_t* ch = c.line; *ch != L'\0'; ++ch) {
        *out << static_cast<char>(*ch < 128 ? *ch : '?');
    }
}

class CommandLineTest : public ::testing::TestWithParam<CommandLineCase> {
  protected:
    void SetUp() override {
        g_app.updateMode = false;
        g_app.uninstallMode = false;
        g_app.feedUrl = L"https://default/releases/latest.json";
    }
};

TEST_P(CommandLineTest, AppliesTheOptionTable) {
    const CommandLineCase& c = GetParam();
    ApplyCommandLine(c.line);
    EXPECT_EQ(g_app.updateMode, c.update);
    EXPECT_EQ(g_app.uninstallMode, c.uninstall);
    EXPECT_EQ(g_app.feedUrl, c.feed);
}

constexpr const wchar_t* kDefault = L"https://default/releases/latest.json";

INSTANTIATE_TEST_SUITE_P(
    Options, CommandLineTest,
    ::testing::Values(
        CommandLineCase{L"MovoraSetup.exe", false, false, kDefault},
        CommandLineCase{L"MovoraSetup.exe --update", true, false, kDefault},
        CommandLineCase{L"MovoraSetup.exe --UNINSTALL", false, true, kDefault},
        CommandLineCase{L"MovoraSetup.exe --Update --unInstall", true, true, kDefault},
        // The program path itself is never an option.
        CommandLineCase{L"--update", false, false, kDefault},
        CommandLineCase{L"MovoraSetup.exe --feed http://localhost:8080/x.json", false, false,
                        L"http://localhost:8080/x.json"},
        CommandLineCase{L"MovoraSetup.exe --FEED \"https://a b/c?d=1\"", false, false,
                        L"https://a b/c?d=1"},
        CommandLineCase{L"MovoraSetup.exe --feed https://one --feed https://two", false, false,
                        L"https://two"},
        CommandLineCase{L"MovoraSetup.exe --feed https://one --feed", false, false, L"https://one"},
        CommandLineCase{L"MovoraSetup.exe --feed", false, false, kDefault},
        // The argument after --feed is consumed, even when it looks like an option.
        CommandLineCase{L"MovoraSetup.exe --feed --update", false, false, L"--update"},
        CommandLineCase{L"MovoraSetup.exe --feed= --updates -update /uninstall", false, false,
                        kDefault},
        CommandLineCase{L"\"C:\\Program Files\\MovoraSetup.exe\" --uninstall", false, true,
                        kDefault}),
    [](const ::testing::TestParamInfo<CommandLineCase>& info) {
        return testing_support::CaseName(info.param.line, 80);
    });

} // namespace
