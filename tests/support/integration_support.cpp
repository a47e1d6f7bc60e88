#include "tests/support/integration_support.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>

#include "tests/support/test_support.h"

namespace testsupport {

namespace {

const wchar_t kChildVariable[] = L"ZVX_TEST_CHILD_MODE";

std::wstring Hex(const BYTE* data, DWORD size)
{
    std::wstring text;
    wchar_t pair[4];
    for (DWORD i = 0; i < size; ++i) {
        swprintf(pair, 4, L"%02x", data[i]);
        text += pair;
    }
    return text;
}

std::wstring DataText(DWORD type, const std::vector<BYTE>& data)
{
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && data.size() % 2 == 0) {
        std::wstring text;
        // NULs (the terminator among them) show as \0, so that the lines stay printable.
        for (size_t i = 0; i + 1 < data.size(); i += 2) {
            wchar_t c = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
            text += c == 0 ? std::wstring(L"\\0") : std::wstring(1, c);
        }
        return L"\"" + text + L"\"";
    }
    if (type == REG_DWORD && data.size() == 4) {
        DWORD value;
        memcpy(&value, data.data(), 4);
        return std::to_wstring(value);
    }
    return Hex(data.data(), static_cast<DWORD>(data.size()));
}

// Every value of one open key, in enumeration order.
std::vector<RegistryGuard::SavedValue> ReadValues(HKEY key)
{
    std::vector<RegistryGuard::SavedValue> values;
    DWORD maxName = 0, maxData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return values;
    std::vector<wchar_t> name(maxName + 2);
    std::vector<BYTE> data(maxData + 2);
    for (DWORD i = 0;; ++i) {
        DWORD nameChars = static_cast<DWORD>(name.size());
        DWORD dataBytes = static_cast<DWORD>(data.size());
        DWORD type = 0;
        LONG r = RegEnumValueW(key, i, name.data(), &nameChars, nullptr, &type, data.data(), &dataBytes);
        if (r != ERROR_SUCCESS)
            break;
        values.push_back({std::wstring(name.data(), nameChars), type,
                          std::vector<BYTE>(data.begin(), data.begin() + dataBytes)});
    }
    return values;
}

std::vector<std::wstring> SubkeyNames(HKEY key)
{
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD chars = 256;
        if (RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, chars);
    }
    return names;
}

void CaptureKeys(HKEY root, const std::wstring& path, const std::wstring& relative, REGSAM view,
                 std::vector<RegistryGuard::SavedKey>& keys)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return;
    keys.push_back({relative, ReadValues(key)});
    std::vector<std::wstring> names = SubkeyNames(key);
    RegCloseKey(key);
    for (const std::wstring& name : names)
        CaptureKeys(root, path + L"\\" + name, relative.empty() ? name : relative + L"\\" + name, view, keys);
}

void ExportKey(HKEY root, const std::wstring& path, const std::wstring& shownPath, REGSAM view,
               std::vector<std::wstring>& lines)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return;
    lines.push_back(shownPath + L" |");  // the key itself, so that empty keys count too
    for (const RegistryGuard::SavedValue& value : ReadValues(key))
        lines.push_back(shownPath + L" | " + value.Name + L" | " + std::to_wstring(value.Type) + L" | " +
                        DataText(value.Type, value.Data));
    std::vector<std::wstring> names = SubkeyNames(key);
    RegCloseKey(key);
    for (const std::wstring& name : names)
        ExportKey(root, path + L"\\" + name, shownPath + L"\\" + name, view, lines);
}

// Runs a copy of a test program that writes into this process's own output (so that
// its failures show in the log) and ends with it (a job that kills on close).
// Returns its exit code, -1 when it did not start, -2 when it timed out.
int RunSharingOutput(const std::wstring& exe, const std::wstring& commandLine, const wchar_t* directory,
                     DWORD timeoutMs)
{
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    fflush(stdout);
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job != nullptr) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    PROCESS_INFORMATION pi = {};
    int result = -1;
    if (CreateProcessW(exe.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, directory,
                       &si, &pi)) {
        if (job != nullptr)
            AssignProcessToJobObject(job, pi.hProcess);
        ResumeThread(pi.hThread);
        CloseHandle(pi.hThread);
        if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(pi.hProcess, &code);
            result = static_cast<int>(code);
        } else {
            TerminateProcess(pi.hProcess, 99);
            WaitForSingleObject(pi.hProcess, 5000);
            result = -2;
        }
        CloseHandle(pi.hProcess);
    }
    if (job != nullptr)
        CloseHandle(job);
    return result;
}

std::wstring RootName(HKEY root)
{
    if (root == HKEY_CLASSES_ROOT)
        return L"HKCR";
    if (root == HKEY_CURRENT_USER)
        return L"HKCU";
    return L"HKLM";
}

}  // namespace

bool RunFromScratchFolder()
{
    std::wstring self = SelfPath();
    std::wstring name = self.substr(self.find_last_of(L'\\') + 1);
    std::wstring stem = name.substr(0, name.find_last_of(L'.'));
    std::wstring folder = L"C:\\zvx-tests\\" + stem;
    if (CompareStringOrdinal(self.c_str(), static_cast<int>(folder.size() + 1), (folder + L"\\").c_str(), -1,
                             TRUE) == CSTR_EQUAL)
        return true;

    folder = MakeScratchFolder(stem);
    std::wstring copy = folder + L"\\" + name;
    if (!CopyFileW(self.c_str(), copy.c_str(), FALSE)) {
        fprintf(stderr, "cannot copy the test program to %ls\n", copy.c_str());
        ExitProcess(3);
    }
    // The same arguments: everything after the program name of this command line.
    const wchar_t* arguments = GetCommandLineW();
    if (*arguments == L'"') {
        const wchar_t* end = wcschr(arguments + 1, L'"');
        arguments = end != nullptr ? end + 1 : arguments + wcslen(arguments);
    } else {
        while (*arguments != 0 && *arguments != L' ' && *arguments != L'\t')
            ++arguments;
    }
    int code = RunSharingOutput(copy, L"\"" + copy + L"\"" + arguments, folder.c_str(), INFINITE);
    if (code == -1)
        fprintf(stderr, "cannot start %ls\n", copy.c_str());
    RemoveTree(folder);
    ExitProcess(code == -1 ? 3 : static_cast<UINT>(code));
}

std::wstring SelfPath()
{
    std::vector<wchar_t> path(32768);
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return std::wstring(path.data(), n);
}

std::wstring ProgramFolder()
{
    std::wstring self = SelfPath();
    return self.substr(0, self.find_last_of(L'\\'));
}

std::wstring InProgramFolder(const std::wstring& name)
{
    return ProgramFolder() + L"\\" + name;
}

bool SetString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value, REGSAM view)
{
    HKEY h;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &h, nullptr) != ERROR_SUCCESS)
        return false;
    LONG r = RegSetValueExW(h, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
    return r == ERROR_SUCCESS;
}

bool SetDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value)
{
    HKEY h;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr) != ERROR_SUCCESS)
        return false;
    LONG r = RegSetValueExW(h, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    RegCloseKey(h);
    return r == ERROR_SUCCESS;
}

bool GetString(HKEY root, const std::wstring& key, const std::wstring& name, std::wstring& value, REGSAM view)
{
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &h) != ERROR_SUCCESS)
        return false;
    std::vector<wchar_t> buffer(8192);
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t)) - sizeof(wchar_t);
    DWORD type = 0;
    LONG r = RegQueryValueExW(h, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes);
    RegCloseKey(h);
    if (r != ERROR_SUCCESS || type != REG_SZ)
        return false;
    buffer[bytes / sizeof(wchar_t)] = 0;
    value = buffer.data();
    return true;
}

std::wstring StringOf(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM view)
{
    std::wstring value;
    if (GetString(root, key, name, value, view))
        return value;
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &h) != ERROR_SUCCESS)
        return L"<missing>";
    DWORD type = 0;
    LONG r = RegQueryValueExW(h, name.c_str(), nullptr, &type, nullptr, nullptr);
    RegCloseKey(h);
    return r == ERROR_SUCCESS ? L"<type " + std::to_wstring(type) + L">" : L"<missing>";
}

bool GetDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD& value)
{
    DWORD bytes = 4, type = 0;
    return RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_ANY, &type, &value, &bytes) == ERROR_SUCCESS &&
           type == REG_DWORD && bytes == 4;
}

bool HasKey(HKEY root, const std::wstring& key, REGSAM view)
{
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &h) != ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

bool HasValue(HKEY root, const std::wstring& key, const std::wstring& name)
{
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS)
        return false;
    LONG r = RegQueryValueExW(h, name.c_str(), nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(h);
    return r == ERROR_SUCCESS;
}

void DeleteTree(HKEY root, const std::wstring& key, REGSAM view)
{
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_ALL_ACCESS | view, &h) == ERROR_SUCCESS) {
        RegDeleteTreeW(h, nullptr);
        RegCloseKey(h);
    }
    RegDeleteKeyExW(root, key.c_str(), view, 0);
}

std::vector<std::wstring> ExportTree(HKEY root, const std::wstring& key, REGSAM view)
{
    std::vector<std::wstring> lines;
    std::wstring shown = RootName(root) + (view == KEY_WOW64_32KEY ? L"(32)\\" : L"\\") + key;
    ExportKey(root, key, shown, view, lines);
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::wstring> ExportMachine()
{
    std::vector<std::wstring> lines = ExportTree(HKEY_LOCAL_MACHINE, L"Software");
    std::vector<std::wstring> user = ExportTree(HKEY_CURRENT_USER, L"Software");
    lines.insert(lines.end(), user.begin(), user.end());
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::wstring> Difference(const std::vector<std::wstring>& before, const std::vector<std::wstring>& after)
{
    std::vector<std::wstring> gone, added, result;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(gone));
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    for (const std::wstring& line : gone)
        result.push_back(L"- " + line);
    for (const std::wstring& line : added)
        result.push_back(L"+ " + line);
    return result;
}

RegistryGuard::RegistryGuard(const std::vector<std::wstring>& classIds)
{
    std::vector<std::pair<HKEY, std::wstring>> keys;
    const wchar_t* const classes[] = {
        L".zvx", L".zip", L".cab", L".arj", L".lz", L".tlz", L".lzh", L".lha", L".7z", L".tar",
        L".gz", L".tgz", L".uue", L".xxe", L".uu", L".bz2", L".tbz2", L".bz", L".tbz", L".jar",
        L".iso", L".z", L".taz", L".xz", L".txz", L".zipx", L".zst", L".tzst", L".001", L".rev",
        L".ace", L"Zorvex", L"Zorvex.ZIP", L"Zorvex.REV", L"exefile\\shellex", L"Folder\\shellex",
        L"Drive\\shellex", L"*\\shellex", L"lnkfile\\shellex",
    };
    for (const wchar_t* name : classes)
        keys.emplace_back(HKEY_CLASSES_ROOT, name);
    for (int n = 0; n < 100; ++n) {
        wchar_t volume[8];
        swprintf(volume, 8, L".r%02d", n);
        keys.emplace_back(HKEY_CLASSES_ROOT, volume);
    }
    keys.emplace_back(HKEY_LOCAL_MACHINE, L"Software\\Zorvex");
    keys.emplace_back(HKEY_LOCAL_MACHINE, L"Software\\RegisteredApplications");
    keys.emplace_back(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved");
    keys.emplace_back(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zorvex archiver");
    keys.emplace_back(HKEY_CURRENT_USER, L"Software\\Zorvex");
    for (const auto& key : keys)
        saved_.push_back({key.first, key.second, 0, {}});
    // Keys the product writes in both views.
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_32KEY)}) {
        for (const std::wstring& classId : classIds)
            saved_.push_back({HKEY_CLASSES_ROOT, L"CLSID\\" + classId, view, {}});
        saved_.push_back(
            {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Zorvex.exe", view, {}});
    }
    for (SavedTree& tree : saved_)
        CaptureKeys(tree.Root, tree.Path, L"", tree.View, tree.Keys);
}

void RegistryGuard::Restore() const
{
    for (const SavedTree& tree : saved_) {
        DeleteTree(tree.Root, tree.Path, tree.View);
        for (const SavedKey& saved : tree.Keys) {
            std::wstring path = saved.Path.empty() ? tree.Path : tree.Path + L"\\" + saved.Path;
            HKEY h;
            if (RegCreateKeyExW(tree.Root, path.c_str(), 0, nullptr, 0, KEY_WRITE | tree.View, nullptr, &h,
                                nullptr) != ERROR_SUCCESS)
                continue;
            for (const SavedValue& value : saved.Values)
                RegSetValueExW(h, value.Name.c_str(), 0, value.Type, value.Data.data(),
                               static_cast<DWORD>(value.Data.size()));
            RegCloseKey(h);
        }
    }
}

bool PlaceProgramFile(const std::wstring& name, const std::string& bytes)
{
    return WriteBytes(InProgramFolder(name), bytes);
}

void RemoveProgramFiles()
{
    const wchar_t* const names[] = {
        L"Zorvex.exe", L"Zorvex.chm", L"Zvx.txt", L"WhatsNew.txt", L"zvxnew.dat", L"zipnew.dat",
        L"zvxext.dll", L"zvxext32.dll", L"ZvxExtPackage.msix", L"ZvxExtInstaller.exe", L"ZvxExtInstaller.log",
        L"ZvxExtInstaller.delay", L"Zorvex.ini", L"uninstall.lng", L"custom.ico",
    };
    for (const wchar_t* name : names)
        RemoveTree(InProgramFolder(name));
}

std::wstring ShellFolder(int csidl)
{
    wchar_t path[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)))
        return L"";
    return path;
}

void RemoveShortcuts()
{
    for (int csidl : {CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_STARTMENU, CSIDL_COMMON_STARTMENU}) {
        std::wstring folder = ShellFolder(csidl);
        if (!folder.empty())
            RemoveTree(folder + L"\\Zorvex.lnk");
    }
    for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS}) {
        std::wstring folder = ShellFolder(csidl);
        if (!folder.empty())
            RemoveTree(folder + L"\\Zorvex");
    }
}

ShortcutInfo ReadShortcut(const std::wstring& path)
{
    ShortcutInfo info;
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return info;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        if (SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
            wchar_t text[4096];
            info.Loaded = true;
            if (SUCCEEDED(link->GetPath(text, 4096, nullptr, SLGP_RAWPATH)))
                info.Target = text;
            if (SUCCEEDED(link->GetDescription(text, 4096)))
                info.Description = text;
            int index = -1;
            if (SUCCEEDED(link->GetIconLocation(text, 4096, &index))) {
                info.Icon = text;
                info.IconIndex = index;
            }
            if (SUCCEEDED(link->GetWorkingDirectory(text, 4096)))
                info.WorkingDirectory = text;
            if (SUCCEEDED(link->GetArguments(text, 4096)))
                info.Arguments = text;
        }
        file->Release();
    }
    link->Release();
    return info;
}

std::vector<std::wstring> FolderEntries(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::wstring name = fd.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring ChildMode()
{
    wchar_t value[64];
    DWORD n = GetEnvironmentVariableW(kChildVariable, value, 64);
    return n > 0 && n < 64 ? std::wstring(value, n) : std::wstring();
}

bool IsWindows10Child()
{
    return ChildMode() == L"windows10";
}

int RunSelf(const std::wstring& filter, const std::wstring& mode, bool windows10, DWORD timeoutMs)
{
    std::wstring self = SelfPath();
    std::wstring appDefaults = L"Software\\Wine\\AppDefaults\\" + self.substr(self.find_last_of(L'\\') + 1);
    if (windows10 && !SetString(HKEY_CURRENT_USER, appDefaults, L"Version", L"win10"))
        return -1;
    SetEnvironmentVariableW(kChildVariable, mode.c_str());

    int result = RunSharingOutput(self, L"\"" + self + L"\" --gtest_color=no --gtest_filter=" + filter, nullptr,
                                  timeoutMs);
    SetEnvironmentVariableW(kChildVariable, nullptr);
    if (windows10)
        DeleteTree(HKEY_CURRENT_USER, appDefaults);
    return result;
}

}  // namespace testsupport
