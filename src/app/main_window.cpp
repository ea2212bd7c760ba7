// The main window: its form, start-up, settings and shutdown.
#include "app/main_window.h"

#include <QSpinBox>

#include "widgets/strip_overflow.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenuBar>
#include <QSettings>
#include <QVBoxLayout>

#include "link/com_port.h"
#include "sim/simulator.h"
#include "ui/file_dialogs.h"
#include "ui/screen_fit.h"
#include "ui/value_editor.h"

namespace tunavox {

TfMain::TfMain(const TMainOptions& options, QWidget* parent)
    : QMainWindow(parent), options_(options), line_(std::make_unique<TLine>()) {
    devices_ = new TDevicesFace(*this);
    net_ = new TNetPortFace(*this);
    dev_ = &devices_->Device(0);
    trend_ = new TTrendFace(*this);
    keys_ = new TKeysFace(*this);
    link_ = new TLinkFace(*this);
    scan_ = new TScanFace(*this);
    BuildForm();

    // The status line: a label whose colours the status operations set.
    normalStatusColor_ = palette().color(QPalette::Button);
    SpinIndex = 0;
    // The port list; kept as designed (empty) when it cannot be read.
    PortLister = [this](QStringList& ports) {
        if (options_.Ports) {
            ports = *options_.Ports;
            return true;
        }
        std::string list;
        if (!ListComPorts(list, false)) return false;
        ports = QString::fromStdString(list).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        return true;
    };
    QStringList ports;
    if (PortLister(ports)) net_->Fill(ports);
    // The last used port, or the one given on the command line.
    LoadSettings();
    if (!options_.ExtraPort.isEmpty()) {
        if (cbPort->findText(options_.ExtraPort) < 0) cbPort->addItem(options_.ExtraPort);
        cbPort->setCurrentIndex(cbPort->findText(options_.ExtraPort));
    }
    vstList->Model()->SetSource(nullptr, nullptr);
    // The description files beside the program, as the "Устройство" menu.
    BuildCatalogue();
    miDevList->menuAction()->setVisible(catalogue_.size() > 1);
    // Hand-overs from the worker run from this window's event loop.
    line_->Start(
        [this] {
            QMetaObject::invokeMethod(
                this, [this] { ServeHandOver(); }, Qt::QueuedConnection);
        },
        [this](const TAction& a) {
            if (!a.CountsForLink()) return;
            line_->Stats.Record(a.Error(), TExchangeStats::Clock::now(),
                                static_cast<uint32_t>(a.DeviceId),
                                a.Canal ? a.Canal->LastFirstByteMs() : -1);
            // What the exchange says about the link, told on the window's thread.
            const TLinkKind kind = ClassifyExchange(a.Error(), a.PortError());
            QMetaObject::invokeMethod(
                this,
                [this, row = a.Node, reg = a.Reg, kind, error = a.Error()] {
                    link_->OnExchangeSeen(row, reg, kind, error);
                },
                Qt::QueuedConnection);
        });
    trend_->ShowStats();
    trend_->StatsTimer->start();
    // One description chosen and loaded.
    if (!catalogue_.empty()) ChooseAtStart();
}

TfMain::~TfMain() {
    // No more previews: the children go away below.
    qApp->removeEventFilter(this);
    // A wide recording's last pass, as far as it got, goes to the file.
    if (line_->Wide) trend_->StopRecording();
    // A set at work on a device ends here unfinished: the port's closing must not bring
    // its "nothing read" message up as a modal box while the window goes (the program
    // would wait on it for ever).
    delete sets_->CompareDialog();
    site_->CloseSite(); // its check's requests finish unseen
    devices_->OnCurrentChanged = nullptr;
    for (int t = 0; t < devices_->Count(); ++t)
        devices_->Device(t).ParamRunner.reset();
    // The worker first, serving its hand-overs meanwhile: a running action finishes
    // with its handler; queued ones are freed unrun.
    line_->Shutdown();
    for (int t = 0; t < devices_->Count(); ++t)
        devices_->View(t)->Model()->SetSource(nullptr, nullptr);
    delete devices_;
    dev_ = nullptr;
    line_.reset();
    demo_.reset();
}

void TfMain::ServeHandOver() {
    line_->HandOver.ServePending();
}

void TfMain::BuildForm() {
    setObjectName(QStringLiteral("fMain"));
    setWindowTitle(QStringLiteral("Тунавокс"));
    resize(774, 475);
    setMinimumSize(640, 300);
    KeepOnScreen(this);

    // Menu.
    QMenu* file = menuBar()->addMenu(QStringLiteral("Файл"));
    sets_ = new TSetsFace(*this, file);
    siteHost_ = MakeSiteHost(*this);
    site_ = new TSiteFace(*siteHost_, this);
    site_->AddMenuItems(file);
    QMenu* exportMenu = file->addMenu(QStringLiteral("Экспорт в"));
    miExportHtml = exportMenu->addAction(QStringLiteral("HTML"));
    miExportRtf = exportMenu->addAction(QStringLiteral("RTF"));
    miExportCsv = exportMenu->addAction(QStringLiteral("CSV"));
    file->addSeparator();
    N2 = file->addAction(QStringLiteral("Выход"));
    miDevList = Named(menuBar()->addMenu(QStringLiteral("Устройство")), "miDevList");
    miDevList->menuAction()->setVisible(false);
    QMenu* service = menuBar()->addMenu(QStringLiteral("Сервис"));
    miVers = Named(service->addMenu(QStringLiteral("Версия протокола")), "miVers");
    auto* versions = new QActionGroup(this);
    miVer1 = Named(miVers->addAction(QStringLiteral("1.0")), "miVer1");
    miVer2 = Named(miVers->addAction(QStringLiteral("2.0")), "miVer2");
    for (QAction* a : {miVer1, miVer2}) {
        a->setCheckable(true);
        versions->addAction(a);
    }
    miVer2->setChecked(true);
    chUseLogs =
        Named(service->addAction(QStringLiteral("Логировать обмен с устройством")), "chUseLogs");
    chUseLogs->setCheckable(true);
    trend_->AddMenuItems(service);
    chOnlyFactoryDiffs =
        Named(service->addAction(QStringLiteral("Только отличающиеся от заводских")),
              "chOnlyFactoryDiffs");
    chOnlyFactoryDiffs->setCheckable(true);
    QMenu* help = menuBar()->addMenu(QStringLiteral("Справка"));
    N4 = Named(help->addAction(QStringLiteral("О программе")), "N4");
    miExportHtml->setObjectName(QStringLiteral("miExportHtml"));
    miExportRtf->setObjectName(QStringLiteral("miExportRtf"));
    miExportCsv->setObjectName(QStringLiteral("miExportCsv"));
    N2->setObjectName(QStringLiteral("N2"));

    // Top strip.
    auto* central = new QWidget(this);
    auto* top = new QWidget(central);
    top->setFixedHeight(37);
    auto* topRow = new QHBoxLayout(top);
    topRow->setContentsMargins(8, 4, 8, 4);
    topRow->addWidget(new QLabel(QStringLiteral("COM-порт"), top));
    cbPort = Named(new TPortBox(top), "cbPort");
    cbPort->setEditable(false);
    cbPort->setMinimumWidth(110);
    topRow->addWidget(cbPort);
    bOpen = Named(new QPushButton(QStringLiteral("Открыть"), top), "bOpen");
    topRow->addWidget(bOpen);
    chOver41G = Named(new QCheckBox(QStringLiteral("Через \"Мирел-41Г\",  \"Мирел-42Г\""), top),
                      "chOver41G");
    topRow->addWidget(chOver41G);
    topRow->addStretch();
    topRow->addWidget(new QLabel(QStringLiteral("ID"), top));
    eID = Named(new QLineEdit(top), "eID");
    eID->setFixedWidth(90); // the top strip keeps its captions whole at the 640 minimum
    topRow->addWidget(eID);

    // The search field (Ctrl+F), hidden until asked for.
    find_ = new TFindFace(*this, central);

    vstList = new TRegisterView(central);
    QWidget* pages = devices_->Build(central, vstList);
    // The site's items for the current device, on the list's context menu too.
    devices_->lvDevices->setContextMenuPolicy(Qt::ActionsContextMenu);
    devices_->lvDevices->addActions({site_->miAccept, site_->miMakeReference,
                                     site_->miCompareReference, site_->miRestoreReference});
    devices_->OnCurrentChanged = [this] { site_->UpdateActions(); };

    // Bottom strip.
    auto* bottom = new QWidget(central);
    bottom->setFixedHeight(41);
    auto* bottomRow = new QHBoxLayout(bottom);
    bottomRow->setContentsMargins(8, 4, 8, 4);
    chPoll = Named(new QCheckBox(QStringLiteral("Непрерывный опрос выбранных параметров"), bottom),
                   "chPoll");
    bottomRow->addWidget(chPoll);
    lProgress = Named(new QLabel(bottom), "lProgress");
    QFont fixed(QStringLiteral("Monospace"));
    fixed.setStyleHint(QFont::TypeWriter);
    lProgress->setFont(fixed);
    lProgress->setFixedWidth(16);
    bottomRow->addWidget(lProgress);
    trend_->AddPeriodBox(bottom, bottomRow, service);
    bottomRow->addStretch();
    bWriteAll = Named(new QPushButton(QStringLiteral("Записать все"), bottom), "bWriteAll");
    bWriteAll->hide();
    bottomRow->addWidget(bWriteAll);
    bReadAll = Named(new QPushButton(QStringLiteral("Считать все"), bottom), "bReadAll");
    bottomRow->addWidget(bReadAll);

    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(top);
    layout->addWidget(find_->eFind);
    layout->addWidget(pages, 1);
    layout->addWidget(bottom);
    // Where the period box goes when the strip is too narrow for it.
    auto* bottomMore = new QWidget(central);
    bottomMore->setObjectName(QStringLiteral("BottomMore"));
    bottomMore->setFixedHeight(34);
    auto* more = new QHBoxLayout(bottomMore);
    more->setContentsMargins(8, 0, 8, 4);
    more->addStretch();
    bottomMore->hide();
    layout->addWidget(bottomMore);
    new TStripOverflow(central, bottomRow, trend_->sePollPeriod->parentWidget(), lProgress,
                       bottomMore);
    setCentralWidget(central);

    StatusBar1 = Named(new QStatusBar(this), "StatusBar1");
    StatusText = Named(new QLabel(StatusBar1), "StatusText");
    StatusText->setAutoFillBackground(true);
    StatusBar1->addWidget(StatusText, 1);
    trend_->AddStatusLabels(StatusBar1);
    setStatusBar(StatusBar1);

    StatusTimer = Named(new QTimer(this), "StatusTimer");
    StatusTimer->setInterval(4000);
    PingTimer = Named(new QTimer(this), "PingTimer");
    PingTimer->setInterval(3000);
    PollDelay = Named(new QTimer(this), "PollDelay");
    PollDelay->setSingleShot(true);

    // Wiring.
    connect(N2, &QAction::triggered, this, &QWidget::close);
    connect(N4, &QAction::triggered, this, [this] { N4Click(); });
    connect(chOnlyFactoryDiffs, &QAction::toggled, this, [this] { find_->ApplyRowVisibility(); });
    connect(miExportHtml, &QAction::triggered, this, [this] { miExportClick(1); });
    connect(miExportRtf, &QAction::triggered, this, [this] { miExportClick(2); });
    connect(miExportCsv, &QAction::triggered, this, [this] { miExportClick(3); });
    connect(chUseLogs, &QAction::toggled, this, [this](bool on) { UseLogs(on); });
    connect(bOpen, &QPushButton::clicked, this, [this] { bOpenClick(); });
    connect(bReadAll, &QPushButton::clicked, this, [this] { bReadAllClick(); });
    connect(bWriteAll, &QPushButton::clicked, this, [this] { bWriteAllClick(); });
    // The poll step follows the box's state whoever changes it: mouse, keyboard,
    // accessibility or the program itself, once per change.
    connect(chPoll, &QCheckBox::toggled, this, [this] { chPollClick(); });
    connect(cbPort, &TPortBox::AboutToShowPopup, this, [this] { RefreshPorts(); });
    connect(eID, &QLineEdit::textChanged, this, [this] { eIDChange(); });
    connect(StatusTimer, &QTimer::timeout, this,
            [this] { ShowStatus(QString(), false, normalStatusColor_); });
    connect(PingTimer, &QTimer::timeout, this, [this] { PingTimerTimer(); });
    connect(PollDelay, &QTimer::timeout, this, [this] { chPollClick(); });
    connect(miVer1, &QAction::toggled, this, [this](bool v1) {
        if (demo_) demo_->SetVersion(v1 ? 0 : 1);
    });
    WireView(vstList);
    link_->Build(service);
    scan_->Build(service, StatusBar1);
    net_->Build(service);
    devices_->AddMenuItems(file, service);
    keys_->Build(help);
    // The window previews every key (F7 anywhere, Enter on the table) and the table's clicks.
    qApp->installEventFilter(this);
}

void TfMain::WireView(TRegisterView* view) {
    // A row's menu (right click, the Menu key, Shift+F10): a setting's factory value back,
    // offered only where the setting differs from it.
    connect(view, &TRegisterView::RowMenuRequested, this, [this](int row, const QPoint& at) {
        const TReg* reg = vstList->Model()->Reg(row);
        if (!reg || reg->RegType == rtHeader || reg->Io != ioRW) return;
        QMenu menu(this);
        menu.setObjectName(QStringLiteral("RowMenu"));
        QAction* back = menu.addAction(QStringLiteral("Вернуть заводское значение"));
        back->setObjectName(QStringLiteral("miRestoreFactory"));
        back->setEnabled(reg->DiffersFromFactory());
        if (menu.exec(at) == back) link_->RestoreFactoryValue(row);
    });
    // Each table's signals act on the current tab: only the shown table gets the user's.
    connect(view->Model(), &TRegisterModel::RowChecked, this,
            [this](int row, Qt::CheckState s) { vstListChecked(row, s); });
    connect(view->CheckHeader(), &TCheckHeader::CheckBoxClicked, this,
            [this] { vstListHeaderClick(); });
    connect(view, &QAbstractItemView::doubleClicked, this, [this] { vstListDblClick(); });
    view->CreateEditLink = [view]() -> IEditLink* { return new TPropertyEditLink(view); };
    connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { vstListChange(current.row()); });
}

void TfMain::LoadSettings() {
    QSettings settings(QStringLiteral("Mirel"), QStringLiteral("Tunavox"));
    const QVariant stored = settings.value(QStringLiteral("Port"));
    const QString port = stored.isValid() && stored.canConvert<QString>() ? stored.toString()
                                                                          : QStringLiteral("COM1");
    cbPort->setCurrentIndex(cbPort->findText(port, Qt::MatchFixedString)); // ignores letter case
    if (cbPort->currentIndex() < 0 && cbPort->count() > 0) cbPort->setCurrentIndex(0);
}

void TfMain::SaveSettings() {
    QSettings settings(QStringLiteral("Mirel"), QStringLiteral("Tunavox"));
    settings.setValue(QStringLiteral("Port"), cbPort->currentText());
    settings.sync();
}

void TfMain::closeEvent(QCloseEvent* event) {
    // A connection being made runs on a thread of its own: the window waits for it.
    if (net_->Connecting()) {
        event->ignore();
        return;
    }
    SaveSettings();
    QMainWindow::closeEvent(event);
}

void TfMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The table has its real size now: fit the window to the loaded description.
    if (layoutPending_) LayOutForDescription();
}

void TfMain::RefreshPorts() {
    QStringList ports;
    if (!PortLister(ports)) return;
    if (!demoPort_.isEmpty() && !ports.contains(demoPort_)) ports.prepend(demoPort_);
    if (!options_.ExtraPort.isEmpty() && !ports.contains(options_.ExtraPort))
        ports << options_.ExtraPort;
    // Network addresses stay listed.
    for (int i = 0; i < cbPort->count(); ++i)
        if (const QString p = cbPort->itemText(i);
            IsNetworkPortName(p.toStdString()) && !ports.contains(p))
            ports << p;
    QStringList shown;
    for (int i = 0; i < cbPort->count(); ++i)
        shown << cbPort->itemText(i);
    if (net_->Entries(ports) == shown) return;
    net_->Fill(ports);
}

bool TfMain::eventFilter(QObject* watched, QEvent* event) {
    if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) &&
        keys_->HandleKeys(watched, event))
        return true;
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        // The window previews keys: F7 switches service mode wherever the focus is. The
        // key is taken here, so it does not travel on to the parents and count twice.
        if (key->key() == Qt::Key_F7 && widget && widget->window() == this) {
            ToggleServiceMode();
            return true;
        }
        if (find_->HandleKey(watched, *key)) return true;
        if (watched == vstList && key->key() == Qt::Key_Space &&
            key->modifiers() == Qt::NoModifier) {
            ToggleCurrentCheck();
            return true;
        }
        if (watched == vstList && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            if (vstListKeyEnter()) return true;
        }
    }
    if (event->type() == QEvent::MouseButtonPress && watched == vstList->viewport()) {
        // A click on the value of the row selected last reopens its editor.
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QModelIndex hit = vstList->indexAt(mouse->position().toPoint());
        if (hit.isValid() && hit.column() == TRegisterModel::ColValue &&
            hit.row() == dev_->LastChangedRow)
            vstListChange(hit.row());
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace tunavox
