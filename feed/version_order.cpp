#include "feed/version_order.h"

namespace {

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

// The next number of the leading run at the front of rest, as its digits
// without leading zeros (empty for zero, and once the run has ended), and
// rest moved past it and past the dot that joins the next number, or emptied
// where the run ends.
std::wstring_view TakeNumber(std::wstring_view& rest) {
    size_t end = 0;
    while (end < rest.size() && IsDigit(rest[end])) {
        ++end;
    }
    std::wstring_view digits = rest.substr(0, end);
    if (end + 1 < rest.size() && rest[end] == L'.' && IsDigit(rest[end + 1])) {
        rest.remove_prefix(end + 1);
    } else {
        rest = std::wstring_view();
    }
    while (!digits.empty() && digits.front() == L'0') {
        digits.remove_prefix(1);
    }
    return digits;
}

// Compares two numbers given as digits without leading zeros: the longer one
// is the larger, and among equally long ones the digits decide.
int CompareNumbers(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return a.size() < b.size() ? -1 : 1;
    }
    return a.compare(b);
}

} // namespace

bool IsOlderVersion(std::wstring_view version, std::wstring_view than) {
    if (version.empty() || than.empty() || !IsDigit(version.front()) || !IsDigit(than.front())) {
        return false;
    }
    while (!version.empty() || !than.empty()) {
        const int order = CompareNumbers(TakeNumber(version), TakeNumber(than));
        if (order != 0) {
            return order < 0;
        }
    }
    return false;
}
