#include "shell/window/oleacc_calls.h"

#include "shell/scoped.h"
#include "shell/system_library.h"

namespace {

// A property-services object, or null with the creation's error in result.
UniqueCom<IAccPropServices> CreatePropServices(HRESULT& result) {
    IAccPropServices* services = nullptr;
    result = CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IAccPropServices, reinterpret_cast<void**>(&services));
    return UniqueCom<IAccPropServices>(SUCCEEDED(result) ? services : nullptr);
}

HRESULT SetHwndProp(HWND window, DWORD objectId, DWORD childId, const MSAAPROPID& property,
                    const VARIANT& value) {
    HRESULT result = E_FAIL;
    const UniqueCom<IAccPropServices> services = CreatePropServices(result);
    return services ? services->SetHwndProp(window, objectId, childId, property, value) : result;
}

HRESULT ClearHwndProp(HWND window, DWORD objectId, DWORD childId, const MSAAPROPID& property) {
    HRESULT result = E_FAIL;
    const UniqueCom<IAccPropServices> services = CreatePropServices(result);
    return services ? services->ClearHwndProps(window, objectId, childId, &property, 1) : result;
}

// The library is bound at the first request of a client; the DLL of its
// resource strings, which it may load by name, is taken from the system
// folder first as well.
bool BindOleacc(OleaccCalls& calls) {
    const wchar_t* const lateLoads[] = {L"oleaccrc.dll"};
    HMODULE module = LoadSystemLibraryAndLateLoads(L"oleacc.dll", lateLoads, 1);
    calls.setHwndProp = SetHwndProp;
    calls.clearHwndProp = ClearHwndProp;
    return module != nullptr &&
           BindEntryPoint(module, "LresultFromObject", calls.lresultFromObject) &&
           BindEntryPoint(module, "AccessibleObjectFromWindow", calls.objectFromWindow);
}

const OleaccCalls* replacement = nullptr;

} // namespace

const OleaccCalls* GetOleaccCalls() {
    if (replacement != nullptr) {
        return replacement;
    }
    static OleaccCalls calls;
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    return BindOnce(once, calls, BindOleacc);
}

void ReplaceOleaccCalls(const OleaccCalls* calls) {
    replacement = calls;
}
