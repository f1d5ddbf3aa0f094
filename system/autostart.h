// The app's autostart value, which the app may create and the setup program
// only ever deletes.
#pragma once

// Registry path of the Run key below HKEY_CURRENT_USER, and the app's value.
inline constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t kAutostartValueName[] = L"Movora";

// Deletes the "Movora" value under the account's Run key. A missing key or
// value, or one that cannot be opened, is passed over; nothing is reported.
void RemoveAutostartValue();
