#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "device/name_value_list.h"
#include "device/reg.h"
#include "link/line_settings.h"

namespace tunavox {

// Everything a loaded description asks of the main window, the port and the channel.
// Optional fields are set only when the description sets them; after a failed load
// the fields reached before the failure are filled in.
struct TDescription {
    std::string Name;     // root name
    std::string FileName; // the file's name without its folder
    std::string Sign;     // the root's sign attribute (the digest it was verified against)
    std::string Caption; // "Настройка " + name, or "Неизвестное устройство"
    bool AllowOverMode = true;
    std::optional<int32_t> HintTimeout;
    std::string Serial;
    std::optional<TLineSettings> Line;
    std::optional<int32_t> Timeout;
    // Table colours, in the order they are applied; a bad colour stops the ones after it.
    bool HasInterface = false;
    std::optional<uint32_t> FontColor;
    std::optional<uint32_t> LinesColor;
    std::optional<uint32_t> SelectionColor;
    std::optional<uint32_t> SelectedTextColor;
    // A background bitmap that exists and ends in .bmp; empty when there is none.
    std::string BackgroundFile;
    bool BackgroundStatic = false;
    std::optional<int> RowCount;
    bool PollOnConnect = false;
};

class TCanal;

// Verifies and loads a description: fills regs (emptying it first), replaces the
// device error texts in errorTexts and reports the window settings in out. With a
// channel, the line settings are stored in its port for the next opening and its
// answer time-out is set. Relative background paths are taken from programFolder
// (with its trailing "/"). Returns the first failure's message, or "" on success.
std::string LoadDescription(const std::string& path, TRegList& regs, TNameValueList& errorTexts,
                            TDescription& out, const std::string& programFolder,
                            TCanal* canal = nullptr);

// Resolves a background file name as the description writes it: a plain or
// "\"-prefixed name is relative to the program's folder; backslashes become slashes.
std::string ResolveBackgroundPath(const std::string& file, const std::string& programFolder);

} // namespace tunavox
