// tunavox: the desktop program.
#include <QApplication>
#include <QCommandLineParser>
#include <QLocale>
#include <QScreen>
#include <QTimer>

#include "app/main_window.h"
#include "device/value_codec.h"
#include "ui/about_box.h"
#include "ui/message_box.h"
#include "ui/translation.h"
#include "util/console.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    tunavox::IgnoreFileSizeLimitSignal();
    QApplication::setWindowIcon(tunavox::ProgramIcon());
    tunavox::InstallQtRussian(app);
    tunavox::InitDialogCaption();
    // Reals are read and shown with the system's decimal separator.
    const QString point = QLocale().decimalPoint();
    tunavox::SetDecimalSeparator(point.isEmpty()          ? '.'
                                 : point.at(0).toLatin1() ? point.at(0).toLatin1()
                                                          : '.');

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Setup tool for serial field devices"));
    parser.addHelpOption();
    QCommandLineOption port(QStringLiteral("port"),
                            QStringLiteral("Add NAME to the port list and select it."),
                            QStringLiteral("NAME"));
    QCommandLineOption descriptions(QStringLiteral("descriptions"),
                                    QStringLiteral("Scan DIR for description files."),
                                    QStringLiteral("DIR"));
    QCommandLineOption demo(QStringLiteral("demo"),
                            QStringLiteral("Serve the chosen device from a built-in simulator."));
    QCommandLineOption device(
        QStringLiteral("device"),
        QStringLiteral("Load the description NAME (file name or device name) without asking."),
        QStringLiteral("NAME"));
    QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Save a picture of the window to FILE after a few seconds."),
        QStringLiteral("FILE"));
    QCommandLineOption journal(QStringLiteral("journal"),
                               QStringLiteral("Keep the journal of writes in DIR."),
                               QStringLiteral("DIR"));
    parser.addOptions({port, descriptions, demo, device, screenshot, journal});
    parser.process(app);

    tunavox::TMainOptions options;
    options.ExtraPort = parser.value(port);
    options.DescriptionsDir = parser.value(descriptions);
    options.Demo = parser.isSet(demo);
    options.Device = parser.value(device);
    options.JournalDir = parser.value(journal);
    tunavox::TfMain window(options);
    if (window.TerminateRequested()) return 1;
    window.show();
    if (parser.isSet(screenshot)) {
        const QString file = parser.value(screenshot);
        QTimer::singleShot(4000, &window, [&window, file] {
            if (window.grab().save(file)) std::printf("screenshot saved to %s\n", qPrintable(file));
            std::fflush(stdout);
        });
    }
    return app.exec();
}
