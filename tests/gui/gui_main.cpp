// Runs every window test class in one offscreen application, with its own
// settings store so the user's is never touched.
#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstring>

#include "device/value_codec.h"

int RunMainWindowTests(int argc, char** argv);
int RunRegisterTableTests(int argc, char** argv);
int RunConnectionTests(int argc, char** argv);
int RunEditorTests(int argc, char** argv);
int RunExportAboutTests(int argc, char** argv);
int RunScreenshotTests(int argc, char** argv);
int RunFirstUseTests(int argc, char** argv);
int RunParamSetsTests(int argc, char** argv);
int RunChartTests(int argc, char** argv);
int RunLinkTests(int argc, char** argv);
int RunPollingTests(int argc, char** argv);
int RunKeyboardTests(int argc, char** argv);
int RunScreenTests(int argc, char** argv);
int RunScanTests(int argc, char** argv);
int RunDevicesTests(int argc, char** argv);
int RunNetworkPortTests(int argc, char** argv);
int RunSiteTests(int argc, char** argv);

int main(int argc, char** argv) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    tunavox::SetDecimalSeparator('.');
    // "gui_tests ClassName [QtTest options]" runs one class only.
    struct Suite {
        const char* name;
        int (*run)(int, char**);
    } suites[] = {
        {"MainWindowTest", RunMainWindowTests},   {"RegisterTableTest", RunRegisterTableTests},
        {"ConnectionTest", RunConnectionTests},   {"EditorTest", RunEditorTests},
        {"ExportAboutTest", RunExportAboutTests}, {"ScreenshotTest", RunScreenshotTests},
        {"ParamSetsTest", RunParamSetsTests},     {"ChartTest", RunChartTests},
        {"FirstUseTest", RunFirstUseTests},       {"LinkTest", RunLinkTests},
        {"PollingTest", RunPollingTests},         {"KeyboardTest", RunKeyboardTests},
        {"ScreenTest", RunScreenTests},           {"ScanTest", RunScanTests},
        {"DevicesTest", RunDevicesTests},
        {"NetworkPortTest", RunNetworkPortTests}, {"SiteTest", RunSiteTests}};
    const char* only =
        argc > 1 && argv[1][0] != '-' && !std::strchr(argv[1], '(') ? argv[1] : nullptr;
    int failed = 0;
    for (const Suite& s : suites) {
        if (only && std::strcmp(only, s.name) != 0) continue;
        if (only) {
            argv[1] = argv[0];
            failed += s.run(argc - 1, argv + 1);
        } else {
            failed += s.run(argc, argv);
        }
        // A test that made the program end (a description that fails to load asks the
        // loop to exit) leaves the quit request standing, and every later dialog's exec()
        // would return at once: a short run of the application's own loop takes it back.
        QTimer::singleShot(0, &app, [] { QCoreApplication::exit(0); });
        app.exec();
    }
    return failed == 0 ? 0 : 1;
}
