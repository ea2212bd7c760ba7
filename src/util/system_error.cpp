#include "util/system_error.h"

#include <cerrno>
#include <cstring>

namespace tunavox {

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
    std::string s = text ? text : "";
    if (s.size() > 256) s.resize(256);
    while (!s.empty() && (static_cast<unsigned char>(s.back()) <= 32 || s.back() == '.'))
        s.pop_back();
    return s;
}

} // namespace tunavox
