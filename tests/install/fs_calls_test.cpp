// The file layer on real files under the test's own temporary folder.
#include "install/fs_calls.h"

#include "shell/app_state.h"
#include "tests/support/scanner.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

using testing_support::TempFolder;
using testing_support::WriteFileBytes;

namespace {

class FileCallsTest : public ::testing::Test {
  protected:
    void TearDown() override {
        file_faults::Disarm();
        file_faults::SetHeldFileRetryMs(kHeldFileRetryMs);
        g_app.cancelRequested = false;
    }

    // Creates a file (and its folders) below the test folder; returns its path.
    std::wstring MakeFile(const std::wstring& relative, const std::string& bytes = "x") {
        const std::wstring path = folder_ / relative;
        raising::CreateFolders(ParentPath(path));
        WriteFileBytes(path, bytes);
        return path;
    }

    static bool IsThere(const std::wstring& path) {
        return GetFileAttributesW(WindowsPathArgument(path).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    TempFolder folder_;
};

// What a raising call threw, for tests that look at the error itself.
template <typename Call> FileError CaughtError(Call call) {
    try {
        call();
    } catch (const FileError& error) {
        return error;
    }
    ADD_FAILURE() << "no FileError was thrown";
    return FileError{};
}

TEST_F(FileCallsTest, ExistsAnswersForFilesFoldersAndMissingPaths) {
    const std::wstring file = MakeFile(L"sub\\file.txt");
    EXPECT_TRUE(raising::Exists(file));
    EXPECT_TRUE(raising::Exists(folder_ / L"sub"));
    EXPECT_TRUE(raising::Exists(folder_ / L"sub\\"));
    EXPECT_FALSE(raising::Exists(folder_ / L"missing.txt"));
    EXPECT_FALSE(raising::Exists(folder_ / L"missing\\deeper\\file.txt"));
    EXPECT_FALSE(raising::Exists(L""));
    // A file where a folder is expected: nothing is below it.
    EXPECT_FALSE(raising::Exists(file + L"\\child.txt"));

    EXPECT_TRUE(raising::IsFolder(folder_ / L"sub"));
    EXPECT_FALSE(raising::IsFolder(file));
    EXPECT_FALSE(raising::IsFolder(folder_ / L"missing"));
}

TEST_F(FileCallsTest, CreateFoldersMakesEveryMissingParentAndKeepsAnExistingFolder) {
    const std::wstring deep = folder_ / L"a\\b c\\d";
    raising::CreateFolders(deep);
    EXPECT_TRUE(raising::IsFolder(deep));
    const std::wstring file = MakeFile(L"a\\b c\\d\\keep.txt");
    raising::CreateFolders(deep);
    raising::CreateFolders(deep + L"\\");
    EXPECT_TRUE(IsThere(file));
}

TEST_F(FileCallsTest, CreateFoldersRaisesWhenAFileStandsInTheWay) {
    const std::wstring file = MakeFile(L"blocker");
    const FileError error = CaughtError([&] { raising::CreateFolders(file); });
    EXPECT_EQ(error.path, file);
    EXPECT_EQ(error.code, static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    const FileError below = CaughtError([&] { raising::CreateFolders(file + L"\\sub\\deeper"); });
    EXPECT_NE(below.code, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(below.path, file + L"\\sub\\deeper");

    tolerant::CreateFolders(file + L"\\sub"); // ignored
    EXPECT_FALSE(raising::IsFolder(file));
}

TEST_F(FileCallsTest, RenameMovesFoldersButNeverOntoAnExistingFolder) {
    MakeFile(L"staging\\Movora.exe", "new");
    MakeFile(L"app\\Movora.exe", "old");
    const FileError error =
        CaughtError([&] { raising::Rename(folder_ / L"staging", folder_ / L"app"); });
    EXPECT_EQ(error.path, folder_ / L"staging");
    EXPECT_EQ(error.otherPath, folder_ / L"app");
    EXPECT_NE(error.code, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(IsThere(folder_ / L"staging\\Movora.exe"));

    raising::Rename(folder_ / L"app", folder_ / L"app.previous");
    raising::Rename(folder_ / L"staging", folder_ / L"app");
    EXPECT_TRUE(IsThere(folder_ / L"app\\Movora.exe"));
    EXPECT_TRUE(IsThere(folder_ / L"app.previous\\Movora.exe"));
    EXPECT_FALSE(IsThere(folder_ / L"staging"));

    // A file replaces a file.
    const std::wstring a = MakeFile(L"one.txt", "1");
    const std::wstring b = MakeFile(L"two.txt", "2");
    raising::Rename(a, b);
    EXPECT_FALSE(IsThere(a));
    EXPECT_TRUE(IsThere(b));

    const FileError missing = CaughtError([&] { raising::Rename(a, folder_ / L"three.txt"); });
    EXPECT_EQ(missing.code, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FileCallsTest, CopyOverwritesAndNamesBothPathsWhenItFails) {
    const std::wstring from = MakeFile(L"from.exe", "fresh");
    const std::wstring to = MakeFile(L"to.exe", "stale and longer");
    raising::CopyFileOver(from, to);
    EXPECT_EQ(testing_support::ReadFileBytes(to), "fresh");

    const std::wstring missing = folder_ / L"missing.exe";
    const FileError error = CaughtError([&] { raising::CopyFileOver(missing, to); });
    EXPECT_EQ(error.path, missing);
    EXPECT_EQ(error.otherPath, to);
    EXPECT_FALSE(tolerant::CopyFileOver(missing, to));
    EXPECT_TRUE(tolerant::CopyFileOver(from, folder_ / L"copy.exe"));
}

TEST_F(FileCallsTest, ListFolderGivesDirectEntriesOnly) {
    MakeFile(L"list\\a.txt");
    MakeFile(L"list\\sub\\deep.txt");
    std::vector<std::wstring> names = raising::ListFolder(folder_ / L"list");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"a.txt", L"sub"}));
    // Nothing to list: an empty listing, no error.
    EXPECT_TRUE(raising::ListFolder(folder_ / L"missing").empty());
    EXPECT_TRUE(raising::ListFolder(folder_ / L"list\\a.txt").empty());
}

TEST_F(FileCallsTest, RemoveTakesFilesAndEmptyFoldersOnly) {
    const std::wstring file = MakeFile(L"settings.json");
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    tolerant::Remove(file);
    EXPECT_FALSE(IsThere(file));

    MakeFile(L"full\\kept.txt");
    tolerant::Remove(folder_ / L"full");
    EXPECT_TRUE(IsThere(folder_ / L"full\\kept.txt"));
    raising::CreateFolders(folder_ / L"empty");
    tolerant::Remove(folder_ / L"empty");
    EXPECT_FALSE(IsThere(folder_ / L"empty"));
    tolerant::Remove(folder_ / L"missing"); // no error
}

TEST_F(FileCallsTest, RemoveTreeTellsWhetherAnythingIsLeft) {
    MakeFile(L"tree\\a\\b\\c.txt");
    EXPECT_TRUE(tolerant::RemoveTree(folder_ / L"tree"));
    EXPECT_FALSE(IsThere(folder_ / L"tree"));
    EXPECT_TRUE(tolerant::RemoveTree(folder_ / L"tree")); // nothing there is nothing left

    const std::wstring held = MakeFile(L"tree\\held.txt");
    UniqueHandle holder(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(Valid(holder));
    // Held for good: the wait for it is tested apart, the answer here.
    file_faults::SetHeldFileRetryMs(100);
    EXPECT_FALSE(tolerant::RemoveTree(folder_ / L"tree"));
    EXPECT_TRUE(IsThere(held));
}

// Paths around the classic 260-character limit: the layer must create, test,
// move and remove them like any other.
TEST_F(FileCallsTest, HandlesPathsAroundTheClassicLengthLimit) {
    std::wstring deep = folder_ / L"long";
    const std::wstring element(40, L'd');
    while (deep.size() < 330) {
        deep = JoinPath(deep, element);
    }
    raising::CreateFolders(deep);
    EXPECT_TRUE(raising::IsFolder(deep));
    const std::wstring file = JoinPath(deep, L"Movora.exe");
    ASSERT_GT(file.size(), static_cast<size_t>(MAX_PATH));
    UniqueHandle created(CreateFileW(WindowsPathArgument(file).c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(Valid(created));
    created.reset();
    EXPECT_TRUE(raising::Exists(file));

    const std::wstring moved = JoinPath(deep, L"Moved.exe");
    raising::Rename(file, moved);
    EXPECT_TRUE(raising::Exists(moved));
    EXPECT_FALSE(raising::Exists(file));

    EXPECT_TRUE(tolerant::RemoveTree(folder_ / L"long"));
    EXPECT_FALSE(raising::Exists(folder_ / L"long"));
}

TEST_F(FileCallsTest, MakeAbsoluteResolvesOrGivesEmpty) {
    EXPECT_EQ(tolerant::MakeAbsolute(L"C:/x/./y/../MovoraSetup.exe"), L"C:\\x\\MovoraSetup.exe");
    EXPECT_EQ(tolerant::MakeAbsolute(L""), L"");
}

TEST(NotThereErrors, CountOnlyMissingPaths) {
    for (DWORD code : {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_INVALID_DRIVE}) {
        EXPECT_TRUE(IsNotThereError(code)) << code;
    }
    for (DWORD code : {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_SUCCESS}) {
        EXPECT_FALSE(IsNotThereError(code)) << code;
    }
}

// The test seam fails exactly the armed call, the way a refusal by Windows
// would, and leaves every other call alone.
TEST_F(FileCallsTest, ArmedFaultFailsExactlyThatCall) {
    const std::wstring file = MakeFile(L"here.txt");

    file_faults::Arm(1, ERROR_ACCESS_DENIED);
    EXPECT_TRUE(raising::Exists(file));                                  // call 0
    const FileError error = CaughtError([&] { raising::Exists(file); }); // call 1
    EXPECT_EQ(error.code, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(error.path, file);
    EXPECT_TRUE(raising::Exists(file)); // call 2
    EXPECT_EQ(file_faults::CallsSinceArmed(), 3);

    // A "not there" fault makes an existence test answer false instead.
    file_faults::Arm(0, ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(raising::Exists(file));

    // Tolerant forms do nothing and report failure where they return a
    // result (with an error that no retry waits for).
    file_faults::Arm(0, ERROR_WRITE_PROTECT);
    tolerant::Remove(file);
    EXPECT_TRUE(IsThere(file));
    file_faults::Arm(0, ERROR_WRITE_PROTECT);
    EXPECT_FALSE(tolerant::CopyFileOver(file, folder_ / L"copy.txt"));
    EXPECT_FALSE(IsThere(folder_ / L"copy.txt"));
    file_faults::Arm(0, ERROR_WRITE_PROTECT);
    EXPECT_FALSE(tolerant::RemoveTree(file));
    EXPECT_TRUE(IsThere(file));

    file_faults::Disarm();
    tolerant::Remove(file);
    EXPECT_FALSE(IsThere(file));
}

// ---- Files another program holds for a moment --------------------------------

// One call of each kind that tries again while a file is held, on files made
// below folder: prepare makes what it acts on, call makes it (false when it
// threw or reported failure), done tells whether its effect is there, and
// held names the file a scanner would hold to stop it (none for a folder
// that is not there yet), and attempts is how many attempts the call makes
// when nothing is refused (a tree removal makes one for each entry).
struct RetriedCall {
    const char* name;
    void (*prepare)(const std::wstring& folder);
    bool (*call)(const std::wstring& folder);
    bool (*done)(const std::wstring& folder);
    const wchar_t* held;
    long attempts;
};

void PrintTo(const RetriedCall& c, std::ostream* out) {
    *out << c.name;
}

bool Present(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeFileAt(const std::wstring& path, const std::string& bytes) {
    raising::CreateFolders(ParentPath(path));
    WriteFileBytes(path, bytes);
}

template <typename Call> bool WithoutThrow(Call call) {
    try {
        call();
        return true;
    } catch (const FileError&) {
        return false;
    }
}

const RetriedCall kRetriedCalls[] = {
    {"RenameFolder",
     [](const std::wstring& f) { MakeFileAt(JoinPath(f, L"app\\Movora.exe"), "old"); },
     [](const std::wstring& f) {
         return WithoutThrow([&] { raising::Rename(JoinPath(f, L"app"), JoinPath(f, L"aside")); });
     },
     [](const std::wstring& f) {
         return Present(JoinPath(f, L"aside\\Movora.exe")) && !Present(JoinPath(f, L"app"));
     },
     L"app\\Movora.exe", 1},
    {"CopyOverAFile",
     [](const std::wstring& f) {
         MakeFileAt(JoinPath(f, L"from.exe"), "fresh");
         MakeFileAt(JoinPath(f, L"to.exe"), "stale");
     },
     [](const std::wstring& f) {
         return WithoutThrow(
             [&] { raising::CopyFileOver(JoinPath(f, L"from.exe"), JoinPath(f, L"to.exe")); });
     },
     [](const std::wstring& f) {
         return testing_support::ReadFileBytes(JoinPath(f, L"to.exe")) == "fresh";
     },
     L"to.exe", 1},
    {"RemoveAFile", [](const std::wstring& f) { MakeFileAt(JoinPath(f, L"package.zip"), "zip"); },
     [](const std::wstring& f) {
         tolerant::Remove(JoinPath(f, L"package.zip"));
         return !Present(JoinPath(f, L"package.zip"));
     },
     [](const std::wstring& f) { return !Present(JoinPath(f, L"package.zip")); }, L"package.zip",
     1},
    {"RemoveATree",
     [](const std::wstring& f) {
         MakeFileAt(JoinPath(f, L"tree\\a\\b.dll"), "b");
         MakeFileAt(JoinPath(f, L"tree\\c.txt"), "c");
     },
     [](const std::wstring& f) { return tolerant::RemoveTree(JoinPath(f, L"tree")); },
     [](const std::wstring& f) { return !Present(JoinPath(f, L"tree")); }, L"tree\\a\\b.dll", 4},
    {"CreateFolders", [](const std::wstring&) {},
     [](const std::wstring& f) {
         return WithoutThrow([&] { raising::CreateFolders(JoinPath(f, L"staging\\deep")); });
     },
     [](const std::wstring& f) { return raising::IsFolder(JoinPath(f, L"staging\\deep")); },
     nullptr, 1},
};

const DWORD kHeldFileErrors[] = {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION,
                                 ERROR_LOCK_VIOLATION};

class RetriedCallTest : public FileCallsTest, public ::testing::WithParamInterface<RetriedCall> {
  protected:
    // A fresh folder for each run of the call.
    std::wstring Fresh(const std::string& label) {
        const std::wstring folder = folder_ / std::wstring(label.begin(), label.end());
        GetParam().prepare(folder);
        raising::CreateFolders(folder);
        return folder;
    }
};

TEST_P(RetriedCallTest, HeldFileRefusalsAreTriedAgainOtherErrorsAreNot) {
    const RetriedCall& c = GetParam();
    for (const DWORD code : kHeldFileErrors) {
        SCOPED_TRACE("error " + std::to_string(code));
        // Refused three times, then let through: the call does its work.
        std::wstring folder = Fresh("let-through-" + std::to_string(code));
        file_faults::Arm(0, code, 3);
        EXPECT_TRUE(c.call(folder));
        EXPECT_EQ(file_faults::AttemptsOfArmedCall(), 3 + c.attempts);
        EXPECT_TRUE(c.done(folder));

        // Refused for longer than the time for held files: reported, after
        // several attempts, with nothing done.
        file_faults::SetHeldFileRetryMs(200);
        folder = Fresh("past-the-time-" + std::to_string(code));
        file_faults::Arm(0, code);
        EXPECT_FALSE(c.call(folder));
        EXPECT_GT(file_faults::AttemptsOfArmedCall(), 2);
        EXPECT_FALSE(c.done(folder));
        file_faults::SetHeldFileRetryMs(kHeldFileRetryMs);
    }
    // Any other refusal is reported at the first attempt, under the real time.
    for (const DWORD code : {DWORD{ERROR_WRITE_PROTECT}, DWORD{ERROR_DISK_FULL}}) {
        SCOPED_TRACE("error " + std::to_string(code));
        const std::wstring folder = Fresh("other-" + std::to_string(code));
        file_faults::Arm(0, code);
        EXPECT_FALSE(c.call(folder));
        EXPECT_EQ(file_faults::AttemptsOfArmedCall(), 1);
        EXPECT_FALSE(c.done(folder));
    }
}

INSTANTIATE_TEST_SUITE_P(Calls, RetriedCallTest, ::testing::ValuesIn(kRetriedCalls),
                         [](const ::testing::TestParamInfo<RetriedCall>& info) {
                             return std::string(info.param.name);
                         });

// The calls that a held file can stop, against a real second process that
// holds that file (for the folder rename, a file below the folder) for about
// a second. Wine renames a folder even while a file below it is held, so
// there only the file cases wait; on Windows the folder rename waits as well.
class HeldByAProcessTest : public RetriedCallTest {};

TEST_P(HeldByAProcessTest, FileHeldForAMomentIsWaitedFor) {
    const RetriedCall& c = GetParam();
    const std::wstring folder = Fresh("held");
    const testing_support::StartedProcess scanner =
        testing_support::HoldForAMoment({JoinPath(folder, c.held)}, 1000);
    ASSERT_TRUE(scanner.process);
    EXPECT_TRUE(c.call(folder));
    EXPECT_TRUE(c.done(folder));
    EXPECT_EQ(testing_support::WaitForExitCode(scanner.process.get(), 10000), 0u);
}

std::vector<RetriedCall> CallsAHeldFileCanStop() {
    std::vector<RetriedCall> calls;
    for (const RetriedCall& c : kRetriedCalls) {
        if (c.held != nullptr) {
            calls.push_back(c);
        }
    }
    return calls;
}

INSTANTIATE_TEST_SUITE_P(Calls, HeldByAProcessTest, ::testing::ValuesIn(CallsAHeldFileCanStop()),
                         [](const ::testing::TestParamInfo<RetriedCall>& info) {
                             return std::string(info.param.name);
                         });

// Existence tests and listings are made once: no held-file refusal of theirs
// is waited for.
TEST_F(FileCallsTest, ExistenceTestsAndListingsAreMadeOnce) {
    const std::wstring file = MakeFile(L"here.txt");
    file_faults::Arm(0, ERROR_SHARING_VIOLATION, 1);
    EXPECT_THROW(raising::Exists(file), FileError);
    EXPECT_EQ(file_faults::AttemptsOfArmedCall(), 1);
    file_faults::Arm(0, ERROR_SHARING_VIOLATION, 1);
    EXPECT_THROW(raising::ListFolder(folder_.path()), FileError);
    EXPECT_EQ(file_faults::AttemptsOfArmedCall(), 1);
}

// The hold of the package waits for a held file as the other calls do, and
// then keeps writers, renames and deletions out while it lives.
TEST_F(FileCallsTest, HoldIsTriedAgainWhileTheFileIsHeld) {
    const std::wstring file = MakeFile(L"package.zip");
    for (const DWORD code : kHeldFileErrors) {
        SCOPED_TRACE("error " + std::to_string(code));
        file_faults::Arm(0, code, 3);
        const UniqueHandle hold = raising::HoldForReading(file);
        EXPECT_EQ(file_faults::AttemptsOfArmedCall(), 4);
        ASSERT_TRUE(Valid(hold));
        UniqueHandle writer(CreateFileW(file.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(Valid(writer));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    file_faults::Arm(0, ERROR_WRITE_PROTECT);
    EXPECT_THROW(raising::HoldForReading(file), FileError);
    EXPECT_EQ(file_faults::AttemptsOfArmedCall(), 1);
}

// A handle that holds the file without read sharing for a moment, as some
// scanners open a fresh file: the hold waits for it instead of failing the
// install.
TEST_F(FileCallsTest, HoldWaitsForAnotherProcessThatHoldsTheFileForAMoment) {
    const std::wstring file = MakeFile(L"package.zip");
    UniqueHandle other(
        CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(Valid(other));
    std::thread release([&] {
        Sleep(300);
        other.reset();
    });
    const UniqueHandle hold = raising::HoldForReading(file);
    release.join();
    EXPECT_TRUE(Valid(hold));
}

// The real time, once: a refusal that never ends is reported no sooner than
// kHeldFileRetryMs after the first attempt, and not much later.
TEST_F(FileCallsTest, EndlessRefusalIsReportedWhenTheTimeForHeldFilesIsUp) {
    const std::wstring from = MakeFile(L"staging\\Movora.exe");
    file_faults::Arm(0, ERROR_SHARING_VIOLATION);
    const ULONGLONG start = GetTickCount64();
    const FileError error = CaughtError([&] { raising::Rename(from, folder_ / L"app.exe"); });
    const ULONGLONG waited = GetTickCount64() - start;
    EXPECT_EQ(error.code, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // GetTickCount64 moves in steps of up to about 16 ms.
    EXPECT_GE(waited + 32, kHeldFileRetryMs);
    EXPECT_LT(waited, kHeldFileRetryMs + 3000);
    EXPECT_GT(file_faults::AttemptsOfArmedCall(), 5) << "the pauses should start short";
    EXPECT_TRUE(IsThere(from));
}

// A cancel (the window going away) ends the wait, except for a move that
// restores the old release.
TEST_F(FileCallsTest, CancelEndsTheWaitUnlessTheMoveRestores) {
    const std::wstring from = MakeFile(L"app.previous\\Movora.exe");
    g_app.cancelRequested = true;
    file_faults::Arm(0, ERROR_SHARING_VIOLATION, 3);
    EXPECT_THROW(raising::Rename(folder_ / L"app.previous", folder_ / L"app"), FileError);
    EXPECT_EQ(file_faults::AttemptsOfArmedCall(), 1);

    file_faults::Arm(0, ERROR_SHARING_VIOLATION, 3);
    raising::Rename(folder_ / L"app.previous", folder_ / L"app", OnCancel::KeepTrying);
    EXPECT_EQ(file_faults::AttemptsOfArmedCall(), 4);
    EXPECT_TRUE(IsThere(folder_ / L"app\\Movora.exe"));

    file_faults::Arm(0, ERROR_SHARING_VIOLATION, 3);
    EXPECT_TRUE(tolerant::RemoveTree(folder_ / L"app", OnCancel::KeepTrying));
    EXPECT_EQ(file_faults::AttemptsOfArmedCall(), 3 + 2) << "the executable, then its folder";
}

// A cancel that comes during the pauses for a file held for good is seen
// within a fraction of the time for held files.
TEST_F(FileCallsTest, CancelDuringThePausesIsSeenPromptly) {
    const std::wstring held = MakeFile(L"logs\\a.log");
    UniqueHandle holder(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(Valid(holder));
    ULONGLONG cancelledAt = 0;
    std::thread closer([&] {
        Sleep(300);
        cancelledAt = GetTickCount64();
        g_app.cancelRequested = true;
    });
    tolerant::Remove(held);
    const ULONGLONG returnedAt = GetTickCount64();
    closer.join();
    EXPECT_TRUE(IsThere(held));
    ASSERT_GE(returnedAt, cancelledAt) << "the removal gave up before the cancel";
    EXPECT_LT(returnedAt - cancelledAt, 1500u)
        << "the time for held files is " << kHeldFileRetryMs << " ms";
}

} // namespace
