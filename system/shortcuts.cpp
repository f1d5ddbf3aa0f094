#include "system/shortcuts.h"

#include "install/fs_calls.h"
#include "install/locations.h"
#include "shell/scoped.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

namespace {

// Start menu programs first, then the desktop.
const KNOWNFOLDERID* const kShortcutFolders[] = {&FOLDERID_Programs, &FOLDERID_Desktop};

} // namespace

void CreateAppShortcut(const std::wstring& appExePath) {
    for (const KNOWNFOLDERID* id : kShortcutFolders) {
        const std::wstring folder = GetKnownFolderPath(*id);
        if (!folder.empty()) {
            WriteShortcutFile(JoinPath(folder, kShortcutFileName), appExePath);
        }
    }
}

void WriteShortcutFile(const std::wstring& linkPath, const std::wstring& targetPath) {
    IShellLinkW* rawLink = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&rawLink)))) {
        return;
    }
    UniqueCom<IShellLinkW> link(rawLink);
    link->SetPath(targetPath.c_str());
    link->SetWorkingDirectory(ParentPath(targetPath).c_str());
    link->SetDescription(L"Movora");
    link->SetIconLocation(targetPath.c_str(), 0);

    IPersistFile* rawFile = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&rawFile)))) {
        return;
    }
    UniqueCom<IPersistFile> file(rawFile);
    // A folder that cannot be created makes the save fail, which is ignored.
    tolerant::CreateFolders(ParentPath(linkPath));
    file->Save(linkPath.c_str(), TRUE);
}

void RemoveAppShortcut() {
    for (const KNOWNFOLDERID* id : kShortcutFolders) {
        const std::wstring folder = GetKnownFolderPath(*id);
        if (!folder.empty()) {
            DeleteShortcutFile(JoinPath(folder, kShortcutFileName));
        }
    }
}

void DeleteShortcutFile(const std::wstring& linkPath) {
    try {
        if (!raising::Exists(linkPath)) {
            return;
        }
    } catch (const FileError&) {
        return;
    }
    tolerant::Remove(linkPath);
    SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, linkPath.c_str(), nullptr);
}
