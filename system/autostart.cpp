#include "system/autostart.h"

#include "shell/scoped.h"

#include <windows.h>

void RemoveAutostartValue() {
    HKEY rawKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &rawKey) != ERROR_SUCCESS) {
        return;
    }
    UniqueKey key(rawKey);
    RegDeleteValueW(key.get(), kAutostartValueName);
}
