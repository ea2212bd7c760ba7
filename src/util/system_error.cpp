#include "util/system_error.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>

#include "util/win32_text.h"
#endif

namespace tunavox {
namespace {

std::string Trimmed(std::string s) {
    if (s.size() > 256) {
        // Cut before the character that straddles the limit, not inside it.
        size_t n = 256;
        while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
            --n;
        s.resize(n);
    }
    while (!s.empty() && (static_cast<unsigned char>(s.back()) <= 32 || s.back() == '.'))
        s.pop_back();
    return s;
}

} // namespace

#ifdef _WIN32

int LastSystemError() {
    return static_cast<int>(GetLastError());
}

std::string SystemErrorText(int code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "нет такого файла или папки";
    case ERROR_ACCESS_DENIED:
        return "нет доступа";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "нет места на диске";
    case ERROR_WRITE_PROTECT:
        return "файловая система только для чтения";
    case ERROR_DIRECTORY:
        return "это папка";
    // A port whose adapter went away: the words Linux gives for the same event.
    case ERROR_IO_DEVICE:
    case ERROR_NOT_READY:
    case ERROR_GEN_FAILURE:
    case ERROR_BAD_COMMAND:
        return "ошибка ввода-вывода";
    case ERROR_DEVICE_REMOVED:
        return "нет такого устройства";
    case ERROR_OPERATION_ABORTED:
        return "операция прервана";
    case ERROR_BUSY:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return "устройство или ресурс занят";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return "файл уже существует";
    case ERROR_FILENAME_EXCED_RANGE:
        return "слишком длинное имя файла";
    case ERROR_TOO_MANY_OPEN_FILES:
        return "открыто слишком много файлов";
    default:
        break;
    }
    // The system's text in its own language, as UTF-8.
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string s;
    if (n > 0 && text) s = Narrow(std::wstring(text, n));
    if (text) LocalFree(text);
    s = Trimmed(s);
    if (s.empty()) s = "ошибка " + std::to_string(code);
    return s;
}

#else

int LastSystemError() {
    return errno;
}

std::string SystemErrorText(int code) {
    switch (code) {
    case ENOENT:
        return "нет такого файла или папки";
    case EACCES:
    case EPERM:
        return "нет доступа";
    case ENOSPC:
        return "нет места на диске";
    case EDQUOT:
        return "превышена дисковая квота";
    case EROFS:
        return "файловая система только для чтения";
    case EISDIR:
        return "это папка";
    case EXDEV:
        return "файл нельзя перенести на другую файловую систему";
    case ENOTDIR:
        return "часть пути не является папкой";
    case EIO:
        return "ошибка ввода-вывода";
    case EBUSY:
        return "устройство или ресурс занят";
    case ENODEV:
    case ENXIO:
        return "нет такого устройства";
    case ENOTTY:
        return "это не устройство";
    case EEXIST:
        return "файл уже существует";
    case EFBIG:
        return "файл слишком велик";
    case ENAMETOOLONG:
        return "слишком длинное имя файла";
    case ELOOP:
        return "слишком много символических ссылок";
    case EMFILE:
    case ENFILE:
        return "открыто слишком много файлов";
    default:
        break;
    }
    char buf[256];
    // The GNU strerror_r returns the text (which may not be buf).
    const char* text = strerror_r(code, buf, sizeof buf);
    return Trimmed(text ? text : "");
}

#endif

} // namespace tunavox
