// tunavox-cli journal: the writes made to devices, oldest first, as the journal keeps them.
#include "journal_command.h"

#include <cstdio>
#include <iterator>

#include "device/table_text.h"
#include "journal/journal.h"
#include "session.h"
#include "util/file_io.h"
#include "util/time_text.h"

namespace tunavox::cli {
int Journal(const std::vector<std::string>& args) {
    TJournalFilter filter;
    std::string folder;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (i + 1 >= args.size() ||
            (a != "--since" && a != "--until" && a != "--device" && a != "--journal"))
            return Fail(i + 1 >= args.size() && a.rfind("--", 0) == 0
                            ? a + ": нужно значение"
                            : "неизвестный параметр: " + a);
        const std::string& v = args[++i];
        if ((a == "--since" || a == "--until") && !IsDateText(v))
            return Fail(a + ": нужна дата ГГГГ-ММ-ДД");
        (a == "--since"    ? filter.Since
         : a == "--until"  ? filter.Until
         : a == "--device" ? filter.Device
                           : folder) = v;
    }
    TJournal journal(folder);
    folder = journal.Folder();
    std::vector<TJournalEntry> entries;
    std::string error;
    if (PathKind(folder) != TPathKind::Missing && !ReadJournal(folder, filter, entries, error)) {
        std::fprintf(stderr, "Не удалось прочитать журнал записей %s: %s\n", folder.c_str(),
                     error.c_str());
        return kUsageError;
    }
    for (const TJournalEntry& e : entries) {
        const std::string fields[] = {e.Time, e.Port, e.Device, e.DescFile, e.DeviceId, e.Version,
                                      e.Code, e.Name, e.Before, e.Written,  e.Outcome};
        std::string line;
        for (size_t i = 0; i < std::size(fields); ++i)
            line += (i ? ";" : "") + DelimitedField(fields[i]);
        std::printf("%s\n", line.c_str());
    }
    if (entries.empty())
        std::fprintf(stderr, "В журнале записей (%s) нет записей\n", folder.c_str());
    return 0;
}

} // namespace tunavox::cli
