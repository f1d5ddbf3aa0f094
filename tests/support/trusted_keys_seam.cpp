// The test executables' definition of TrustedReleaseKeys: the keys a test
// set through TrustedKeysScope, none otherwise (the unsigned test build). A
// library of its own, linked after the core, so whichever test executable
// pulls in the release list also finds this.
#include "feed/release_keys.h"

#include <string>

namespace testing_support {

std::string& TrustedReleaseKeysOfTests() {
    static std::string keys;
    return keys;
}

} // namespace testing_support

std::string_view TrustedReleaseKeys() {
    return testing_support::TrustedReleaseKeysOfTests();
}
