#include "util/program_folder.h"

#ifdef _WIN32
#include <windows.h>

#include "util/win32_text.h"
#else
#include <climits>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>

#include "util/file_io.h"
#include "util/os_file.h"

namespace tunavox {

std::string ProgramFolder() {
#ifdef _WIN32
    // Paths are kept with forward slashes, which every Windows file call accepts.
    std::wstring buf(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0 || n >= buf.size()) return "./";
    std::string path = Narrow(buf.substr(0, n));
    for (char& c : path)
        if (c == '\\') c = '/';
#else
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "./";
    std::string path(buf, static_cast<size_t>(n));
#endif
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string UserDataFolder() {
    const auto env = [](const char* name) {
        const char* v = std::getenv(name);
        return std::string(v ? v : "");
    };
#ifdef _WIN32
    std::string base = env("APPDATA");
    if (base.empty()) return "./";
    for (char& c : base)
        if (c == '\\') c = '/';
    return base + "/Tunavox/";
#else
    const std::string xdg = env("XDG_DATA_HOME");
    if (!xdg.empty()) return xdg + "/tunavox/";
    const std::string home = env("HOME");
    return home.empty() ? std::string("./") : home + "/.local/share/tunavox/";
#endif
}

std::string WritableProgramSubfolder(const std::string& name, const std::string& programFolder,
                                     const std::string& userFolder) {
    const auto usable = [](const std::string& folder) {
        std::error_code ec;
        std::filesystem::create_directories(FsPath(folder), ec);
        std::string why;
        return CheckReplaceable(folder + "probe", why);
    };
    const std::string beside = programFolder + name;
    if (usable(beside)) return beside;
    const std::string own = userFolder + name;
    usable(own);
    return own;
}

size_t LastSeparator(const std::string& path) {
#ifdef _WIN32
    return path.find_last_of("/\\");
#else
    return path.find_last_of('/');
#endif
}

std::string NativePath(std::string path) {
#ifdef _WIN32
    for (char& c : path)
        if (c == '/') c = '\\';
#endif
    return path;
}

} // namespace tunavox
