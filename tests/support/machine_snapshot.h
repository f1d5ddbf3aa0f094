// What a program leaves on the machine: every file and folder of a drive and
// every key and value of the registry's two real roots, taken before and after
// it runs and compared.
#pragma once

#include <windows.h>

#include <map>
#include <set>
#include <utility>
#include <string>
#include <vector>

namespace testing_support {

// Each entry by its full name, letter case folded: files as
// "C:\users\...\name" with their size and time of last change, folders with
// a mark only (a folder's own time changes with every file made inside it),
// registry keys as "HKCU\Software\..." and values as "<key>\:<value name>"
// with their type, size and a digest of their data.
using MachineState = std::map<std::wstring, std::wstring>;

// A folder's volume and file index: the same for every name of one folder.
using FolderIdentities = std::set<std::pair<DWORD, ULONGLONG>>;
std::pair<DWORD, ULONGLONG> IdentityOf(const std::wstring& folder);

// Every file and folder below root, following links, but each folder's
// content only under the first of its names (seen holds the folders walked
// so far). Nothing when root itself was walked already.
void AddFiles(const std::wstring& root, MachineState& state, FolderIdentities& seen);

// Every key and value below root (HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE),
// named with prefix ("HKCU", "HKLM"). Keys this account cannot read are
// listed without their content.
void AddRegistry(HKEY root, const std::wstring& prefix, MachineState& state);

// The desktop folder, the drive of the temporary folder and both registry
// roots.
MachineState TakeMachineState();

// Entries added, removed or changed from before to after, each as
// "+ name", "- name" or "~ name".
std::vector<std::wstring> Differences(const MachineState& before, const MachineState& after);

// The name of a difference, without its mark.
std::wstring NameOf(const std::wstring& difference);

// True for folder itself and every entry below it, letter case aside.
bool IsAtOrBelow(const std::wstring& name, const std::wstring& folder);

} // namespace testing_support
