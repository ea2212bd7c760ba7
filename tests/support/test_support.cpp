#include "test_support.h"

#include <cstring>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#ifdef _WIN32
#include <random>
#else
#include <sys/wait.h>
#endif

#include "device/signature.h"
#include "device/value_codec.h"
#include "util/cp1251.h"
#include "util/os_file.h"

namespace tunavox::test {

TempDir::TempDir() {
#ifdef _WIN32
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const auto dir =
            std::filesystem::temp_directory_path() / ("tunavox-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(dir)) path_ = dir.generic_string();
    }
    if (path_.empty()) throw std::runtime_error("cannot create a temporary folder");
#else
    std::string tmpl = (std::filesystem::temp_directory_path() / "tunavox-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
#endif
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(FsPath(path_), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(FsPath(path_), ec);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream f(FsPath(path), std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

std::string ReadBytes(const std::string& path) {
    std::ifstream f(FsPath(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string WriteSignedDescription(const TempDir& dir, const std::string& name,
                                   const std::string& utf8Xml) {
    const std::string path = dir.File(name);
    const bool cp1251 = utf8Xml.find("windows-1251") != std::string::npos;
    WriteBytes(path, cp1251 ? Utf8ToCp1251(utf8Xml) : utf8Xml);
    const std::string error = SignDescriptionFile(path);
    if (!error.empty()) throw std::runtime_error("signing failed: " + error);
    return path;
}

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int b : values)
        s += static_cast<char>(b);
    return s;
}

CommandResult RunCommand(const std::string& command) {
    CommandResult r;
#ifdef _WIN32
    FILE* p = _popen((command + " 2>&1").c_str(), "rb");
#else
    FILE* p = popen((command + " 2>&1").c_str(), "r");
#endif
    if (!p) return r;
    char buf[4096];
    size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
#ifdef _WIN32
    r.status = _pclose(p);
#else
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
#endif
    return r;
}

std::string Description(const std::string& registers, const std::string& rootAttrs,
                        const std::string& more) {
    return "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n"
           "<DEVICE name=\"Тест\" serial=\"9600-8-N-1\"" +
           rootAttrs + ">\r\n" + more + "  <REGISTERS>\r\n" + registers +
           "  </REGISTERS>\r\n</DEVICE>\r\n";
}

uint32_t FloatBitsOf(const TValue& value) {
    return FloatBits(value);
}

TValue FromFloatBits(uint32_t bits) {
    return FloatFromBits(bits);
}

} // namespace tunavox::test
