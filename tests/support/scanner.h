// A second process that holds files for a moment, as an on-access virus
// scanner or the search indexer does (scanner_standin.exe, built next to the
// tests).
#pragma once

#include "tests/support/test_support.h"

#include <string>
#include <vector>

namespace testing_support {

// How long a scanner commonly holds a fresh file: long enough to outlast the
// steps of a small install between the moment it takes hold and the rename or
// removal that meets it, well within the setup program's time for held files.
inline constexpr unsigned kScannerHoldMs = 2000;

// Starts scanner_standin.exe on files and returns once it holds all of them
// (without delete or write sharing); it lets go holdMs later and exits with 0.
// Fails the current test and returns an empty record when it does not get
// that far.
StartedProcess HoldForAMoment(const std::vector<std::wstring>& files,
                              unsigned holdMs = kScannerHoldMs);

// Starts the scanner stand-in on files (holding them for holdMs) the first
// time the code under test sets the status text status. The job status
// observer runs on the thread that sets the text, so the files are held
// before that code takes its next step. One object at a time; it removes the
// observer when it goes away.
class HoldAtStatus {
  public:
    HoldAtStatus(std::wstring status, std::vector<std::wstring> files,
                 unsigned holdMs = kScannerHoldMs);
    ~HoldAtStatus();
    HoldAtStatus(const HoldAtStatus&) = delete;
    HoldAtStatus& operator=(const HoldAtStatus&) = delete;
    // The scanner, once started (its process handle empty until then).
    StartedProcess& scanner() { return scanner_; }

  private:
    static void Observe(const std::wstring& message);
    std::wstring status_;
    std::vector<std::wstring> files_;
    unsigned holdMs_;
    StartedProcess scanner_;
};

} // namespace testing_support
