// Shared pieces of the hostile-input tests: seeded random runs that print
// their seed and size, exact-size buffers fenced by inaccessible pages, and
// the byte mutations applied to release lists.
#pragma once

#include "tests/support/machine_snapshot.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <utility>

namespace hostile {

// The seed and the number of inputs of one randomized test. Fixed defaults;
// MOVORA_HOSTILE_SEED and MOVORA_HOSTILE_INPUTS override them for longer local
// runs. Both are printed, so a failure can be replayed exactly.
struct RandomRun {
    std::uint32_t seed = 0;
    size_t inputs = 0;
    std::mt19937 rng;
};
RandomRun StartRandomRun(const char* what, std::uint32_t defaultSeed, size_t defaultInputs);

// Describes the input being worked on; printed when it makes the process
// read one of the fenced pages, just before the process ends.
void SetCurrentInput(const std::string& description);

// A copy of bytes in memory of exactly their size: with Fence::After the page
// right behind the last byte is inaccessible, with Fence::Before the page
// right in front of the first byte. A read past either end ends the process
// at once with the current input's description.
enum class Fence { After, Before };
class FencedBytes {
  public:
    FencedBytes(std::string_view bytes, Fence fence);
    ~FencedBytes();
    FencedBytes(const FencedBytes&) = delete;
    FencedBytes& operator=(const FencedBytes&) = delete;
    std::string_view view() const { return std::string_view(data_, size_); }

  private:
    void* base_ = nullptr;
    const char* guard_ = nullptr;
    const char* data_ = nullptr;
    size_t size_ = 0;
};

// A uniformly chosen integer in [low, high].
size_t Pick(std::mt19937& rng, size_t low, size_t high);
// True with the given chance in percent.
bool Chance(std::mt19937& rng, int percent);

// count bytes, each drawn from alphabet (or from all 256 values when empty).
std::string RandomBytes(std::mt19937& rng, size_t count, std::string_view alphabet = {});

// Bytes that trouble a key scanner: quotes, backslashes, colons, braces, NUL,
// lone UTF-8 lead and continuation bytes, bytes that are never UTF-8.
extern const std::string_view kScannerTroubleBytes;

// Applies between 1 and maxEdits random edits: bit flips, byte changes, cuts,
// erased ranges, inserted quotes, backslashes, colons, NULs, broken UTF-8,
// repeated slices (repeated keys) and long runs of one trouble byte.
std::string Mutate(std::string bytes, std::mt19937& rng, int maxEdits);

// A short printable description of bytes for failure messages: the size and
// the first bytes with everything outside printable ASCII escaped.
std::string Describe(std::string_view bytes);

// The same for UTF-16 text: printable ASCII as it is, every other unit as
// \uXXXX, cut after 200 units with the length added.
std::string DescribeWide(const std::wstring& text);

// A readable test name made of a case's name: every character other than a
// letter or digit becomes '_'.
std::string CaseName(const char* name);

// Every file and folder below root, by its name in lower case: files with
// their size and time of last change, folders by their presence.
using Snapshot = testing_support::MachineState;
Snapshot TakeSnapshot(const std::wstring& root);

// The paths that were added, removed or changed between two snapshots.
std::set<std::wstring> ChangedEntries(const Snapshot& before, const Snapshot& after);

// True for the folder itself and anything below it, letter case aside.
using testing_support::IsAtOrBelow;

} // namespace hostile
