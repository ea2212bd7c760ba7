#include "device/description.h"

#include "device/signature.h"
#include "device/value_codec.h"
#include "link/canal.h"
#include "util/cp1251.h"
#include "util/integer_text.h"
#include "xml/xml_document.h"

#include "util/file_io.h"

namespace tunavox {
namespace {

bool HasDrive(const std::string& p) {
    return p.size() >= 2 && p[1] == ':' &&
           ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
}

bool IsRegularFile(const std::string& path) {
    return PathKind(path) == TPathKind::File;
}

void ApplyInterface(const XmlElement& ui, TDescription& out, const std::string& programFolder) {
    out.HasInterface = true;
    struct ColorSlot {
        const char* attr;
        const char* def;
        std::optional<uint32_t>* slot;
    };
    const ColorSlot slots[] = {{"font", "#000000", &out.FontColor},
                               {"lines", "#A0A0A0", &out.LinesColor},
                               {"selBG", "#A0A0FF", &out.SelectionColor},
                               {"selFont", "#FFFFFF", &out.SelectedTextColor}};
    for (const ColorSlot& s : slots) {
        uint32_t color = 0;
        if (!ParseColorText(ui.AttrText(s.attr, s.def), color)) break;
        *s.slot = color;
    }
    const XmlElement bg = ui.FirstChild("BACKGROUND");
    if (!bg) return;
    const std::string file = bg.AttrText("file");
    if (file.empty()) return;
    const std::string path = ResolveBackgroundPath(file, programFolder);
    const size_t dot = path.rfind('.');
    const size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return;
    if (!SameTextIgnoreCase(path.substr(dot), ".BMP") || !IsRegularFile(path)) return;
    // A "static" that is no truth value keeps the picture, scrolling with the rows.
    bool fixed = false;
    std::string ignored;
    out.BackgroundFile = path;
    out.BackgroundStatic = bg.AttrBool("static", false, fixed, ignored) && fixed;
}

} // namespace

std::string ResolveBackgroundPath(const std::string& file, const std::string& programFolder) {
    std::string path = file;
    const bool relative = !path.empty() && !HasDrive(path) && path[0] != '/' &&
                          path.find("\\\\") == std::string::npos;
    if (relative) {
        if (path[0] == '\\') path.erase(0, 1);
        path = programFolder + path;
    }
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

std::string LoadDescription(const std::string& path, TRegList& regs, TNameValueList& errorTexts,
                            TDescription& out, const std::string& programFolder, TCanal* canal) {
    XmlDocument doc;
    std::string error = VerifyDescription(path, doc, &out.Sign);
    if (!error.empty()) return error;
    const XmlElement root = doc.Root();
    // The name alone, whichever separator the path uses (Windows paths may have both).
    out.FileName = path.substr(path.find_last_of("/\\") + 1);

    out.Name = root.AttrText("name");
    out.Caption = out.Name.empty() ? "Неизвестное устройство" : "Настройка " + out.Name;
    if (!root.AttrBool("allowOverMode", true, out.AllowOverMode, error)) return error;
    if (root.HasAttribute("hintTimeout")) {
        int32_t hint = 0;
        if (!root.AttrInt("hintTimeout", 0, hint, error)) return error;
        out.HintTimeout = hint;
    }
    out.Serial = root.AttrText("serial");
    TLineSettings line;
    if (!ParseSettingsText(out.Serial, line))
        return "Некорректные параметры COM-порта: " + out.Serial;
    out.Line = line;
    if (canal) canal->ComPort->ParseSettings(out.Serial, false);
    int32_t timeout = 0;
    if (!root.AttrInt("timeout", 1000, timeout, error)) return error;
    out.Timeout = timeout;
    if (canal) canal->SetTimeout(static_cast<uint32_t>(timeout));

    if (const XmlElement ui = root.FirstChild("INTERFACE")) ApplyInterface(ui, out, programFolder);

    // The texts of a previously loaded device must not answer for this one.
    errorTexts.Clear();
    if (const XmlElement errors = root.FirstChild("ERRORS")) {
        for (const XmlElement& err : errors.Children("ERR")) {
            const std::string codeText = err.AttrText("code");
            int64_t code = 0;
            if (!ParseIntegerText(codeText, code)) return "Некорректный код ошибки: " + codeText;
            errorTexts.Add(DeviceErrorKey(code), err.AttrText("text"));
        }
    }

    const XmlElement registers = root.FirstChild("REGISTERS");
    if (!registers) {
        regs.Clear();
        return "В описании нет элемента REGISTERS";
    }
    error = regs.Load(registers);
    if (!error.empty()) return error;
    out.RowCount = regs.Count();
    if (!registers.AttrBool("pollOnConnect", false, out.PollOnConnect, error)) return error;
    return {};
}

} // namespace tunavox
