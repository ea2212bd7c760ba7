#pragma once
#include <QDialog>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <ctime>
#include <string>

namespace tunavox {

// The program's icon, drawn: a white "T" over a wave on a blue tile.
QIcon ProgramIcon();

// "YYYY-MM-DD hh:mm +0300": a UTC time moved by the fixed +0300 offset, whatever the
// computer's time zone.
std::string FormatBuildTime(std::time_t utc);
// "Build: ...\r\nCommit: ...\r\nRevision: ...\r\nHash: ..." (last 12 hash digits).
std::string BuildInformation(std::time_t buildTime, const std::string& commitDate,
                             const std::string& revision, const std::string& hash);

// The arrow that shows or hides the build information.
class TArrowBox : public QWidget {
    Q_OBJECT
public:
    explicit TArrowBox(QWidget* parent) : QWidget(parent) {}
    bool Up = false;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
};

// "О программе": name, version, legal notice, links and the collapsible build
// information. Not modal; closes on OK, Escape and when it loses activation.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    TAboutBox(QWidget* owner, const QString& programName);
    // Opens a new box over owner without blocking it.
    static TAboutBox* Open(QWidget* owner, const QString& programName);

    QLabel* ProductName;
    QLabel* Version;
    QLabel* Copyright;
    QLabel* Label2; // web address
    QLabel* Label3; // e-mail
    TArrowBox* PaintBox1;
    QPlainTextEdit* mCvsInfo;
    QPushButton* OKButton;
    QWidget* Panel1;

    void PaintBox1Click();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace tunavox
