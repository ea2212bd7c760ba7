// tunavox-cli: description files and device exchange from the command line.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "device/description.h"
#include "device/signature.h"
#include "exchange.h"
#include "journal_command.h"
#include "paramset_commands.h"
#include "poll_command.h"
#include "scan_command.h"
#include "site_command.h"
#include "util/console.h"
#include "util/program_folder.h"

namespace {

const char* const kUsage =
    "Использование:\n"
    "  tunavox-cli sign ФАЙЛ...     записать подпись в каждый файл описания\n"
    "  tunavox-cli verify ФАЙЛ...   загрузить каждое описание, вывести OK или ошибку\n"
    "  tunavox-cli ports            список COM-портов системы\n"
    "  tunavox-cli read  --desc ФАЙЛ --port ИМЯ [параметры] [АДРЕС...]\n"
    "                               считать все читаемые регистры (или перечисленные)\n"
    "  tunavox-cli write --desc ФАЙЛ --port ИМЯ [параметры] [--no-verify] АДРЕС=ЗНАЧЕНИЕ...\n"
    "                               записать и считать обратно (--no-verify: без проверки)\n"
    "  tunavox-cli backup  --desc ФАЙЛ --port ИМЯ [параметры] --output НАБОР [АДРЕС...]\n"
    "                               сохранить все читаемые параметры (или перечисленные)\n"
    "                               в файл параметров\n"
    "  tunavox-cli backup|compare|restore --port ИМЯ --device ФАЙЛ:ID... [параметры]\n"
    "                   (или --desc ФАЙЛ --ids 3,17,200) --output-dir|--input-dir ПАПКА\n"
    "                               набор на каждое устройство линии: "
    "ПАПКА/<устройство>_ID<N>.params\n"
    "  tunavox-cli compare --desc ФАЙЛ --port ИМЯ [параметры] НАБОР | --defaults\n"
    "                               код;параметр [ед.];в файле;в устройстве;состояние,\n"
    "                               настройки, затем параметры только для чтения, затем\n"
    "                               «Различий в настройках: N из M»; --defaults: устройство\n"
    "                               против заводских значений описания\n"
    "  tunavox-cli diff --desc ФАЙЛ НАБОР1 НАБОР2 | --defaults НАБОР\n"
    "                               сравнить два набора (или набор с заводскими значениями)\n"
    "                               без устройства, строки как у compare\n"
    "  tunavox-cli set --desc ФАЙЛ НАБОР АДРЕС=ЗНАЧЕНИЕ...\n"
    "                               изменить значения в наборе с проверками описания\n"
    "  tunavox-cli restore --desc ФАЙЛ --port ИМЯ [параметры] НАБОР [--all] [АДРЕС...]\n"
    "                               записать различающиеся RW-строки (все или перечисленные),\n"
    "                               каждую с обратным чтением и проверкой; набор другого\n"
    "                               устройства или ID — только с --other-device\n"
    "  tunavox-cli poll --desc ФАЙЛ --port ИМЯ [параметры] [--seconds С | --count N]\n"
    "                   [--period МС] [--wide] [--output ФАЙЛ] [АДРЕС...]\n"
    "                               опрашивать регистры по очереди (все читаемые, если не\n"
    "                               перечислены): время;код;параметр [ед.];значение;ошибка,\n"
    "                               дописывая в ФАЙЛ, как окно записывает опрос; порт,\n"
    "                               пропавший при опросе, открывается снова, когда вернётся;\n"
    "                               --period: проход не чаще раза за МС (0 или 100..3600000,\n"
    "                               0 — как можно чаще); --wide: строка на проход, столбец\n"
    "                               на регистр (время;код параметр [ед.];…)\n"
    "  tunavox-cli scan [--port ИМЯ...] [--ids A-B] [--version 1|2|all]\n"
    "                   [--gateway off|on|both] [--probe-timeout МС] [--descriptions ПАПКА]\n"
    "                               найти устройства на линии (по умолчанию все порты,\n"
    "                               ID 1-255, оба протокола, напрямую и через шлюз):\n"
    "                               порт;режим;протокол;ID;тип устройства;время ответа,\n"
    "                               затем «Найдено устройств: N за T с»; код выхода 0 —\n"
    "                               устройства найдены, 1 — нет, 2 — ошибка вызова или порта\n"
    "  tunavox-cli journal [--since ГГГГ-ММ-ДД] [--until ГГГГ-ММ-ДД] [--device ИМЯ]\n"
    "                      [--journal ПАПКА]\n"
    "                               журнал записей в устройства: время;порт;устройство;\n"
    "                               файл описания;ID;протокол;код;параметр;было;записано;\n"
    "                               результат\n"
    "  tunavox-cli site new ПАПКА --port ИМЯ [--version 1|2] [--gateway]\n"
    "                   --device ФАЙЛ:ID... [--name ТЕКСТ]\n"
    "                               записать объект: тождество и настройки каждого\n"
    "                               устройства (эталон), файл объекта site.xml; код выхода\n"
    "                               2, если устройство не отвечает (ничего не записано)\n"
    "  tunavox-cli site check ПАПКА\n"
    "                               проверить каждое устройство объекта:\n"
    "                               ID;устройство;состояние;различий от эталона, затем итог;\n"
    "                               код выхода 0 — все на месте и равны эталону, 1 — нет,\n"
    "                               2 — ошибка файла объекта или порта\n"
    "                               (начинает посещение: считанное сохраняется в\n"
    "                               visits/ как найденное на объекте)\n"
    "  tunavox-cli site report ПАПКА --output ФАЙЛ.html|ФАЙЛ.csv [--engineer ИМЯ]\n"
    "                   [--journal ПАПКА]\n"
    "                               отчёт о наладке за последнее посещение: настройки\n"
    "                               каждого устройства считываются ещё раз; строка\n"
    "                               ID;устройство;заключение на устройство; код выхода\n"
    "                               0 — все соответствуют эталону, 1 — нет, 2 — ошибка\n"
    "Параметры: --version 1|2 (по умолчанию 2), --id N, --gateway, --log,\n"
    "           --device ФАЙЛ[:ID] вместо --desc ФАЙЛ --id ID; read и poll принимают\n"
    "           несколько --device (устройства на одной линии), строки тогда с ID\n"
    "           --journal ПАПКА (журнал записей write и restore; по умолчанию Journal рядом\n"
    "           с программой)\n"
    "           для read также: --format csv|html|rtf --output ФАЙЛ (таблица, как экспорт окна)\n"
    "Вывод read и write: код;параметр [ед.];значение;ошибка, строка на регистр.\n"
    "Код выхода: 0 все обмены успешны (compare: все строки совпадают), 1 были ошибки\n"
    "(restore: не всё записано), 2 ошибка вызова, описания, порта или файла\n"
    "(compare, diff: 1 различаются настройки, 2 ошибка чтения или файла; параметры только\n"
    "для чтения не считаются; write: 1 также когда устройство сохранило другое значение).\n";

int Usage(const char* message = nullptr) {
    if (message) std::fprintf(stderr, "tunavox-cli: %s\n", message);
    std::fputs(kUsage, stderr);
    return 2;
}

int Sign(const std::vector<std::string>& files) {
    int status = 0;
    for (const std::string& file : files) {
        const std::string error = tunavox::SignDescriptionFile(file);
        std::printf("%s: %s\n", file.c_str(), error.empty() ? "OK" : error.c_str());
        if (!error.empty()) status = 1;
    }
    return status;
}

int Verify(const std::vector<std::string>& files) {
    int status = 0;
    const std::string folder = tunavox::ProgramFolder();
    for (const std::string& file : files) {
        tunavox::TRegList regs;
        tunavox::TNameValueList errorTexts;
        tunavox::TDescription desc;
        const std::string error = tunavox::LoadDescription(file, regs, errorTexts, desc, folder);
        std::printf("%s: %s\n", file.c_str(), error.empty() ? "OK" : error.c_str());
        if (!error.empty()) status = 1;
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    tunavox::PrepareConsole();
    std::vector<std::string> args = tunavox::CommandLineArguments(argc, argv);
    if (args.empty()) return Usage();
    const std::string command = args.front();
    args.erase(args.begin());
    const bool help = std::find(args.begin(), args.end(), "--help") != args.end() ||
                      std::find(args.begin(), args.end(), "-h") != args.end();
    if (command == "-h" || command == "--help" || help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "sign" || command == "verify") {
        if (args.empty()) return Usage("не указаны файлы");
        return command == "sign" ? Sign(args) : Verify(args);
    }
    if (command == "ports") return tunavox::cli::Ports();
    if (command == "read") return tunavox::cli::Read(args);
    if (command == "write") return tunavox::cli::Write(args);
    if (command == "backup") return tunavox::cli::Backup(args);
    if (command == "compare") return tunavox::cli::Compare(args);
    if (command == "restore") return tunavox::cli::Restore(args);
    if (command == "poll") return tunavox::cli::Poll(args);
    if (command == "scan") return tunavox::cli::Scan(args);
    if (command == "journal") return tunavox::cli::Journal(args);
    if (command == "diff") return tunavox::cli::Diff(args);
    if (command == "set") return tunavox::cli::Set(args);
    if (command == "site") return tunavox::cli::Site(args);
    return Usage(("неизвестная команда: " + command).c_str());
}
