// The main window: device catalogue, device choice and the loaded description.
#include <QApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLayout>
#include <QScreen>
#include <QScrollBar>

#include "app/device_dialog.h"
#include <QActionGroup>

#include "app/main_window.h"
#include "sim/simulator.h"
#include "ui/compare_dialog.h"
#include "ui/message_box.h"
#include "ui/screen_fit.h"
#include "util/program_folder.h"

namespace tunavox {

void TfMain::BuildCatalogue() {
    std::string folder = options_.DescriptionsDir.isEmpty()
                             ? ProgramFolder()
                             : options_.DescriptionsDir.toStdString();
    if (!folder.empty() && folder.back() != '/') folder += '/';
    catalogue_ = ScanCatalogue(folder);
    auto* group = new QActionGroup(this);
    group->setExclusive(true);
    for (size_t i = 0; i < catalogue_.size(); ++i) {
        // An "&" in a name is shown as it stands; the letters come below.
        QString caption = QString::fromStdString(catalogue_[i].Caption);
        caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* a = miDevList->addAction(caption);
        a->setCheckable(true);
        a->setData(QString::fromStdString(catalogue_[i].Path));
        group->addAction(a);
        const int entry = static_cast<int>(i);
        // The handler checks entries itself; a click must not check one in passing.
        connect(a, &QAction::triggered, this, [this, a, entry] {
            a->setChecked(entry == dev_->Entry);
            DeviceChosen(entry);
        });
        catalogueActions_.push_back(a);
    }
    GiveMenuLetters(miDevList->actions());
}

void TfMain::ChooseAtStart() {
    if (catalogue_.empty()) return;
    int entry = 0;
    int named = -1;
    for (size_t i = 0; i < catalogue_.size() && !options_.Device.isEmpty(); ++i) {
        const QString path = QString::fromStdString(catalogue_[i].Path);
        if (QString::fromStdString(catalogue_[i].Caption) == options_.Device ||
            path.endsWith(QLatin1Char('/') + options_.Device))
            named = static_cast<int>(i);
    }
    if (named >= 0) {
        entry = named;
    } else if (catalogue_.size() > 1) {
        QStringList captions;
        for (const TCatalogueEntry& e : catalogue_)
            captions << QString::fromStdString(e.Caption);
        entry = TfSelDevDlg::Choose(captions, this);
        if (entry < 0) entry = 0;
    }
    DeviceChosen(entry);
}

void TfMain::DeviceChosen(int entry) {
    if (entry < 0 || entry >= static_cast<int>(catalogue_.size()) || entry == dev_->Entry) return;
    dev_->Entry = entry;
    catalogueActions_[static_cast<size_t>(entry)]->setChecked(true);
    vstList->setUpdatesEnabled(false);
    vstList->Model()->SetSource(nullptr, nullptr);

    TDescription desc;
    // The line takes the settings of its first device's description.
    const std::string error = LoadDescription(
        catalogue_[static_cast<size_t>(entry)].Path, *dev_->Regs, *dev_->ErrorTexts, desc,
        ProgramFolder(), devices_->Current() == 0 ? line_->Canal.get() : nullptr);
    ApplyDescription(desc);
    dev_->Desc = desc;
    if (!error.empty()) {
        // At start-up the window is not shown yet: the box stands on its own, centred.
        ShowWarning(isVisible() ? this : nullptr, QString::fromStdString(error));
        // The program ends; the loop stops at its first message (or ends at once when
        // it is not running yet).
        terminateRequested_ = true;
        QMetaObject::invokeMethod(
            qApp, [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
        return;
    }
    // The samples were of the other description's rows.
    line_->Samples.Clear(dev_->Key(0), dev_->Key(TDevice::kKeyStride));
    trend_->Changed();
    TRegisterModel* model = vstList->Model();
    model->SetSource(dev_->Regs.get(), dev_->ErrorTexts.get());
    // The header box starts from the rows' own ticks.
    const int checked = model->CheckedCount();
    model->SetHeaderState(checked == 0                         ? Qt::Unchecked
                          : checked == model->CheckableCount() ? Qt::Checked
                                                               : Qt::PartiallyChecked);
    vstList->setUpdatesEnabled(true);
    LayOutForDescription();
    ResetConnectionState();
    devices_->ShowTab(devices_->Current());
    if (options_.Demo) StartDemo();
}

void TfMain::ApplyDescription(const TDescription& d) {
    if (!d.Caption.empty()) setWindowTitle(QString::fromStdString(d.Caption));
    chOver41G->setVisible(d.AllowOverMode);
    dev_->PollOnConnect = d.PollOnConnect;
    StyleView(vstList, d);
}

void TfMain::StyleView(TRegisterView* view, const TDescription& d) {
    if (d.HintTimeout) view->SetHintTime(*d.HintTimeout);
    if (d.FontColor) view->Model()->SetTextColor(FromDescriptionColor(*d.FontColor));
    if (d.LinesColor) view->SetGridColor(FromDescriptionColor(*d.LinesColor));
    if (d.SelectionColor) view->SetSelectionColor(FromDescriptionColor(*d.SelectionColor));
    if (d.SelectedTextColor) view->SetSelectedTextColor(FromDescriptionColor(*d.SelectedTextColor));
    if (!d.BackgroundFile.empty()) {
        QPixmap picture;
        // An unreadable picture is ignored.
        if (picture.load(QString::fromStdString(d.BackgroundFile), "BMP"))
            view->SetBackground(picture, d.BackgroundStatic);
    }
}

void TfMain::LayOutForDescription() {
    // Before the window is first shown the table has not been given its real size
    // yet: the fitting waits for the first showing.
    if (!isVisible()) {
        layoutPending_ = true;
        return;
    }
    layoutPending_ = false;
    if (layout()) layout()->activate();
    // The name column takes what the other three leave (and a scroll bar, if any).
    QHeaderView* h = vstList->horizontalHeader();
    const int rows = vstList->Model()->rowCount();
    int visible = 0;
    for (int r = 0; r < rows; ++r)
        visible += vstList->isRowHidden(r) ? 0 : 1;
    const int scroll = rows > visible ? vstList->verticalScrollBar()->sizeHint().width() : 0;
    const int name = vstList->viewport()->width() - h->sectionSize(0) - h->sectionSize(1) -
                     h->sectionSize(3) - scroll;
    if (name > 0 && h->sectionResizeMode(2) != QHeaderView::Stretch) h->resizeSection(2, name);

    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? (QGuiApplication::screens().size() > 1 ? screen->availableGeometry()
                                                                       : screen->geometry())
                              : QRect(0, 0, 1024, 768);
    const int wanted = height() + rows * vstList->verticalHeader()->defaultSectionSize() -
                       vstList->viewport()->height();
    if (wanted < area.height()) resize(width(), std::max(wanted, minimumHeight()));
    move(area.left() + (area.width() - frameGeometry().width()) / 2,
         area.top() + (area.height() - frameGeometry().height()) / 2);
    FitIntoScreen(this); // wider than a small or scaled screen: shrunk to fit
}

void TfMain::ResetConnectionState() {
    dev_->ResetConnection();
    link_->ShowLinkState();
    if (dev_->PingNode >= 0)
        PingTimer->start();
    else
        PingTimer->stop();
    // Every description starts with its service rows hidden.
    ServiceMode = true;
    ToggleServiceMode();
}

void TfMain::ToggleServiceMode() {
    ServiceMode = !ServiceMode;
    find_->ApplyRowVisibility();
    sets_->SetServiceMode(ServiceMode);
}

void TfMain::vstListChecked(int row, Qt::CheckState state) {
    (void)row;
    if (state != Qt::Unchecked && !chPoll->isChecked()) chPoll->setChecked(true);
    trend_->Changed(); // the row joins or leaves the chart
    TRegisterModel* m = vstList->Model();
    const int checked = m->CheckedCount();
    m->SetHeaderState(checked == 0                     ? Qt::Unchecked
                      : checked == m->CheckableCount() ? Qt::Checked
                                                       : Qt::PartiallyChecked);
}

void TfMain::vstListHeaderClick() {
    TRegisterModel* m = vstList->Model();
    // The header box toggles first (mixed goes to checked), then every row follows it
    // without the per-row notification.
    const Qt::CheckState target = m->HeaderState() == Qt::Checked ? Qt::Unchecked : Qt::Checked;
    m->SetHeaderState(target);
    for (int r = 0; r < m->rowCount(); ++r)
        if (m->HasCheckBox(r)) m->SetCheckState(r, target, false);
    trend_->Changed();
}

void TfMain::SetCurrent(TDevice& dev, TRegisterView* view) {
    dev_ = &dev;
    vstList = view;
}

void TfMain::MarkCatalogueEntry(int entry) {
    if (entry >= 0 && entry < static_cast<int>(catalogueActions_.size()))
        catalogueActions_[static_cast<size_t>(entry)]->setChecked(true);
}

} // namespace tunavox
