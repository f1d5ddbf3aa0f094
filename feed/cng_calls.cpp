#include "feed/cng_calls.h"

#include "shell/system_library.h"

namespace {

bool BindCng(CngCalls& calls) {
    HMODULE module = LoadSystemLibrary(L"bcrypt.dll");
    return module != nullptr &&
           BindEntryPoint(module, "BCryptOpenAlgorithmProvider", calls.openAlgorithmProvider) &&
           BindEntryPoint(module, "BCryptGetProperty", calls.getProperty) &&
           BindEntryPoint(module, "BCryptCreateHash", calls.createHash) &&
           BindEntryPoint(module, "BCryptHashData", calls.hashData) &&
           BindEntryPoint(module, "BCryptFinishHash", calls.finishHash) &&
           BindEntryPoint(module, "BCryptDestroyHash", calls.destroyHash) &&
           BindEntryPoint(module, "BCryptCloseAlgorithmProvider", calls.closeAlgorithmProvider) &&
           BindEntryPoint(module, "BCryptImportKeyPair", calls.importKeyPair) &&
           BindEntryPoint(module, "BCryptVerifySignature", calls.verifySignature) &&
           BindEntryPoint(module, "BCryptDestroyKey", calls.destroyKey);
}

} // namespace

const CngCalls* GetCngCalls() {
    static CngCalls calls;
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    return BindOnce(once, calls, BindCng);
}
