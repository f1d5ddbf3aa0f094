// The pieces of the C++ runtime that the shipped program replaces
// (shell/library_errors.cpp, shell/exception_globals.cpp), linked into this
// test program as they are into MovoraSetup.exe.
#include <gtest/gtest.h>

#include <windows.h>

#include <exception>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct RefusalCase {
    const char* name;
    std::function<void()> request;
};

class LibraryRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

// Each refusal is an exception every job's handler catches, and none of the
// library's string-carrying error classes: those would mean the library's
// raising helpers were linked instead of the program's.
TEST_P(LibraryRefusalTest, IsAnExceptionWithoutTheLibrarysErrorClasses) {
    bool caught = false;
    try {
        GetParam().request();
    } catch (const std::logic_error&) {
        ADD_FAILURE() << "the library's logic_error came through";
    } catch (const std::runtime_error&) {
        ADD_FAILURE() << "the library's runtime_error came through";
    } catch (const std::exception& error) {
        caught = true;
        EXPECT_STRNE(error.what(), "");
    }
    EXPECT_TRUE(caught);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LibraryRefusalTest,
    ::testing::Values(RefusalCase{"IndexPastTheEnd", [] { (void)std::wstring(L"ab").at(2); }},
                      RefusalCase{"SubstringPastTheEnd",
                                  [] { (void)std::wstring(L"ab").substr(3); }},
                      RefusalCase{"StringPastItsMaximum",
                                  [] {
                                      std::string text;
                                      text.reserve(text.max_size() + 1);
                                  }},
                      RefusalCase{"VectorPastItsMaximum",
                                  [] {
                                      std::vector<int> values;
                                      values.reserve(values.max_size() + 1);
                                  }},
                      RefusalCase{"NotANumber", [] { (void)std::stoi("x"); }}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

TEST(LibraryRefusalTest, MemoryExhaustionIsStillBadAlloc) {
    EXPECT_THROW((void)std::allocator<long long>().allocate(std::size_t(-1) / sizeof(long long)),
                 std::bad_alloc);
}

// Exceptions in flight belong to their thread: the record the runtime keeps
// per thread must not be shared.
struct ThreadRun {
    HANDLE caughtHere;   // set by the thread once it is inside its catch block
    HANDLE mayGoOn;      // set by the test when the other thread has thrown
    int value;           // what the thread throws
    int seenInCatch = 0; // what current_exception gave after the other's throw
    int uncaughtInDestructor = -1;
};

struct CountsUncaught {
    int* out;
    ~CountsUncaught() { *out = std::uncaught_exceptions(); }
};

DWORD WINAPI ThrowAndWait(void* parameter) {
    auto* run = static_cast<ThreadRun*>(parameter);
    try {
        CountsUncaught counter{&run->uncaughtInDestructor};
        throw run->value;
    } catch (int) {
        SetEvent(run->caughtHere);
        WaitForSingleObject(run->mayGoOn, 10000);
        try {
            std::rethrow_exception(std::current_exception());
        } catch (int again) {
            run->seenInCatch = again;
        }
    }
    return 0;
}

TEST(ExceptionGlobalsTest, EachThreadKeepsItsOwnExceptionsInFlight) {
    ThreadRun first{CreateEventW(nullptr, TRUE, FALSE, nullptr),
                    CreateEventW(nullptr, TRUE, FALSE, nullptr), 1};
    ThreadRun second{CreateEventW(nullptr, TRUE, FALSE, nullptr),
                     CreateEventW(nullptr, TRUE, FALSE, nullptr), 2};
    HANDLE firstThread = CreateThread(nullptr, 0, ThrowAndWait, &first, 0, nullptr);
    ASSERT_NE(firstThread, nullptr);
    ASSERT_EQ(WaitForSingleObject(first.caughtHere, 10000), WAIT_OBJECT_0);
    // The second thread throws and catches while the first is still inside
    // its catch block; then the first asks for its exception again.
    HANDLE secondThread = CreateThread(nullptr, 0, ThrowAndWait, &second, 0, nullptr);
    ASSERT_NE(secondThread, nullptr);
    ASSERT_EQ(WaitForSingleObject(second.caughtHere, 10000), WAIT_OBJECT_0);
    SetEvent(first.mayGoOn);
    SetEvent(second.mayGoOn);
    WaitForSingleObject(firstThread, 10000);
    WaitForSingleObject(secondThread, 10000);
    EXPECT_EQ(first.seenInCatch, 1);
    EXPECT_EQ(second.seenInCatch, 2);
    EXPECT_EQ(first.uncaughtInDestructor, 1);
    EXPECT_EQ(second.uncaughtInDestructor, 1);
    for (HANDLE handle : {first.caughtHere, first.mayGoOn, second.caughtHere, second.mayGoOn,
                          firstThread, secondThread}) {
        CloseHandle(handle);
    }
    EXPECT_EQ(std::uncaught_exceptions(), 0);
    EXPECT_EQ(std::current_exception(), nullptr);
}

// Many threads that come and go, each throwing: every one gets a record of
// its own at its first throw, and a record freed at a thread's end is never
// used again.
DWORD WINAPI ThrowMany(void*) {
    int caught = 0;
    for (int i = 0; i < 200; ++i) {
        try {
            throw std::bad_alloc();
        } catch (const std::bad_alloc&) {
            ++caught;
        }
    }
    return caught == 200 && std::uncaught_exceptions() == 0 ? 0 : 1;
}

TEST(ExceptionGlobalsTest, ThreadsThatComeAndGoEachThrowAndCatch) {
    for (int round = 0; round < 20; ++round) {
        HANDLE threads[4];
        for (HANDLE& thread : threads) {
            thread = CreateThread(nullptr, 0, ThrowMany, nullptr, 0, nullptr);
            ASSERT_NE(thread, nullptr);
        }
        ASSERT_EQ(WaitForMultipleObjects(4, threads, TRUE, 30000), WAIT_OBJECT_0);
        for (HANDLE thread : threads) {
            DWORD code = 1;
            GetExitCodeThread(thread, &code);
            EXPECT_EQ(code, 0u);
            CloseHandle(thread);
        }
    }
}

} // namespace
