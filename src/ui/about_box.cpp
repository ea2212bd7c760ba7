#include "ui/about_box.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QUrl>

#include "build_info.h"

#ifdef _WIN32
#include <windows.h>

#include <vector>
#endif

namespace tunavox {
namespace {

// The product's figures as the executable's version resource gives them on Windows,
// as the build gave them elsewhere (or when the resource lacks the value).
QString ProductText(const wchar_t* key, const char* built) {
    const QString fallback = QString::fromUtf8(built);
#ifdef _WIN32
    std::vector<wchar_t> path(32768);
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0 || n >= path.size()) return fallback;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.data(), &ignored);
    if (size == 0) return fallback;
    std::vector<char> info(size);
    if (!GetFileVersionInfoW(path.data(), 0, size, info.data())) return fallback;
    const std::wstring sub = std::wstring(L"\\StringFileInfo\\041904B0\\") + key;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.data(), sub.c_str(), &value, &length) || length == 0) return fallback;
    QString text = QString::fromWCharArray(static_cast<const wchar_t*>(value), length);
    while (text.endsWith(QChar(0)))
        text.chop(1);
    return text.isEmpty() ? fallback : text;
#else
    (void)key;
    return fallback;
#endif
}

} // namespace

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const double u = size / 64.0;
        p.setBrush(QColor(0x2C, 0x5A, 0xA8));
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(2 * u, 2 * u, 60 * u, 60 * u), 12 * u, 12 * u);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(14 * u, 12 * u, 36 * u, 8 * u));
        p.drawRect(QRectF(28 * u, 12 * u, 8 * u, 30 * u));
        QPainterPath wave;
        wave.moveTo(10 * u, 50 * u);
        wave.cubicTo(20 * u, 40 * u, 26 * u, 60 * u, 36 * u, 50 * u);
        wave.cubicTo(44 * u, 42 * u, 50 * u, 56 * u, 56 * u, 48 * u);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(0xFF, 0xC8, 0x40), 4 * u, Qt::SolidLine, Qt::RoundCap));
        p.drawPath(wave);
        icon.addPixmap(pixmap);
    }
    return icon;
}

std::string FormatBuildTime(std::time_t utc) {
    // The offset is the text "+0300" read as 300 and divided by 100: three hours.
    const std::time_t shifted = utc + 300 / 100 * 3600;
    std::tm t{};
#ifdef _WIN32
    gmtime_s(&t, &shifted);
#else
    gmtime_r(&shifted, &t);
#endif
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d +0300", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min);
    return buf;
}

std::string BuildInformation(std::time_t buildTime, const std::string& commitDate,
                             const std::string& revision, const std::string& hash) {
    const std::string shortHash = hash.size() >= 40 ? hash.substr(28, 12) : hash;
    return "Build: " + FormatBuildTime(buildTime) + "\r\nCommit: " + commitDate +
           "\r\nRevision: " + revision + "\r\nHash: " + shortHash;
}

void TArrowBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(palette().color(QPalette::WindowText));
    p.setPen(Qt::NoPen);
    const QPointF o(4, 2);
    const double s = 2;
    QPolygonF arrow;
    if (Up)
        arrow << o + QPointF(-s, 2 * s) << o + QPointF(s + 2, 2 * s) << o + QPointF(1, 0);
    else
        arrow << o + QPointF(-s, 0) << o + QPointF(s + 2, 0) << o + QPointF(1, 2 * s);
    p.drawPolygon(arrow);
}

void TArrowBox::mousePressEvent(QMouseEvent*) {
    emit clicked();
}

TAboutBox::TAboutBox(QWidget* owner, const QString& programName) : QDialog(owner) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("О программе"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);
    setFixedWidth(298);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(8, 8, 281, 237);
    Panel1->setAutoFillBackground(true);

    auto* icon = new QLabel(Panel1);
    icon->setObjectName(QStringLiteral("ProgramIcon"));
    icon->setGeometry(13, 9, 64, 64);
    icon->setPixmap(ProgramIcon().pixmap(64, 64));
    icon->setCursor(Qt::PointingHandCursor);
    icon->installEventFilter(this);

    ProductName = new QLabel(Panel1);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    ProductName->setWordWrap(true);
    QFont bold = font;
    bold.setBold(true);
    ProductName->setFont(bold);
    ProductName->setGeometry(88, 16, 185, 14);
    ProductName->setText(ProductText(L"ProductName", TUNAVOX_PRODUCT_NAME));
    Version = new QLabel(Panel1);
    Version->setObjectName(QStringLiteral("Version"));
    Version->setFont(bold);
    Version->setText(QStringLiteral("Версия: ") + ProductText(L"FileVersion", TUNAVOX_VERSION));
    Copyright = new QLabel(ProductText(L"LegalCopyright", TUNAVOX_COPYRIGHT), Panel1);
    Copyright->setObjectName(QStringLiteral("Copyright"));
    Copyright->adjustSize();
    Copyright->move((Panel1->width() - Copyright->width()) / 2, 80);

    auto* comments = new QLabel(QStringLiteral("Сайт: "), Panel1);
    comments->setObjectName(QStringLiteral("Comments"));
    comments->move(8, 104);
    Label2 = new QLabel(Panel1);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(QStringLiteral(TUNAVOX_WEB)));
    Label2->setOpenExternalLinks(true);
    Label2->move(53, 103);
    Label2->setCursor(Qt::PointingHandCursor);
    auto* label1 = new QLabel(QStringLiteral("E-Mail: "), Panel1);
    label1->setObjectName(QStringLiteral("Label1"));
    label1->move(8, 128);
    Label3 = new QLabel(Panel1);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setText(
        QStringLiteral("<a href=\"mailto:%1\">%1</a>").arg(QStringLiteral(TUNAVOX_EMAIL)));
    Label3->setOpenExternalLinks(true);
    Label3->move(53, 127);
    Label3->setCursor(Qt::PointingHandCursor);

    PaintBox1 = new TArrowBox(Panel1);
    PaintBox1->setObjectName(QStringLiteral("PaintBox1"));
    PaintBox1->setGeometry(262, 131, 11, 9);
    PaintBox1->setCursor(Qt::PointingHandCursor);
    PaintBox1->setAccessibleName(QStringLiteral("Сведения о сборке"));
    connect(PaintBox1, &TArrowBox::clicked, this, [this] { PaintBox1Click(); });

    mCvsInfo = new QPlainTextEdit(Panel1);
    mCvsInfo->setObjectName(QStringLiteral("mCvsInfo"));
    mCvsInfo->setReadOnly(true);
    mCvsInfo->setGeometry(8, 146, 265, 82);
    mCvsInfo->setPlainText(QString::fromStdString(
        BuildInformation(static_cast<std::time_t>(TUNAVOX_BUILD_EPOCH), TUNAVOX_COMMIT_DATE,
                         TUNAVOX_COMMIT_REVISION, TUNAVOX_COMMIT_HASH)));

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    OKButton->resize(75, 25);
    connect(OKButton, &QPushButton::clicked, this, &QWidget::close);

    if (!programName.isEmpty()) ProductName->setText(programName);
    // The version line sits 11 pixels below the name, however many lines that takes.
    ProductName->setFixedHeight(ProductName->heightForWidth(ProductName->width()));
    Version->adjustSize();
    Version->move(88, ProductName->geometry().bottom() + 1 + 11);

    resize(298, 284);
    PaintBox1Click(); // starts collapsed
}

void TAboutBox::PaintBox1Click() {
    mCvsInfo->setHidden(!mCvsInfo->isHidden());
    const int memo = mCvsInfo->isHidden() ? 0 : mCvsInfo->height();
    const int chrome = 284 - 237; // the box's height less the panel's, as designed
    const int h = memo + mCvsInfo->y() + mCvsInfo->x() + chrome;
    PaintBox1->Up = !mCvsInfo->isHidden();
    PaintBox1->update();
    Panel1->resize(Panel1->width(), h - chrome);
    OKButton->move(111, h - 284 + 251);
    setFixedHeight(h);
}

TAboutBox* TAboutBox::Open(QWidget* owner, const QString& programName) {
    auto* box = new TAboutBox(owner, programName);
    if (owner) box->move(owner->geometry().center() - box->rect().center());
    box->show();
    box->activateWindow();
    return box;
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* e) {
    if (watched->objectName() == QLatin1String("ProgramIcon") &&
        e->type() == QEvent::MouseButtonPress) {
        // The program's folder in the system's file browser.
        QDesktopServices::openUrl(QUrl::fromLocalFile(QApplication::applicationDirPath()));
        return true;
    }
    return QDialog::eventFilter(watched, e);
}

bool TAboutBox::event(QEvent* e) {
    if (e->type() == QEvent::WindowDeactivate && isVisible()) {
        close();
        return true;
    }
    return QDialog::event(e);
}

void TAboutBox::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QDialog::keyPressEvent(e);
}

} // namespace tunavox
