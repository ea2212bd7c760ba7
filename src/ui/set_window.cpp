#include "ui/set_window.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>
#include <chrono>
#include <map>

#include "device/table_text.h"
#include "paramset/param_runner.h"
#include "ui/file_dialogs.h"
#include "ui/message_box.h"
#include "ui/screen_fit.h"
#include "ui/value_editor.h"
#include "util/time_text.h"

namespace tunavox {
namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// A register of the description as this window's own row.
void CopyDescription(const TReg& from, TReg& to) {
    to.Name = from.Name;
    to.Units = from.Units;
    to.Desc = from.Desc;
    to.Addr = from.Addr;
    to.Pass = from.Pass;
    to.Prec = from.Prec;
    to.Io = from.Io;
    to.RegType = from.RegType;
    to.ValueTexts = from.ValueTexts;
    to.BgColor = from.BgColor;
    to.FontColor = from.FontColor;
    to.Admin = from.Admin;
    to.DefValue = from.DefValue;
    to.HasDefValue = from.HasDefValue;
}

} // namespace

TSetWindow::TSetWindow(const TParamSet& set, const QString& path, const TRegList& regs,
                       const TNameValueList* errorTexts, const TDescription& desc,
                       const std::string& descriptionPath, QWidget* parent)
    : QDialog(parent), set_(set), path_(path), descriptionPath_(descriptionPath) {
    setObjectName(QStringLiteral("SetWindow"));
    resize(760, 560);
    KeepOnScreen(this);
    std::map<uint16_t, const TReg*> byAddress;
    for (int r = 0; r < regs.Count(); ++r)
        if (regs.Items(r)->RegType != rtHeader)
            byAddress.emplace(regs.Items(r)->Addr, regs.Items(r));
    for (const TParamEntry& e : set_.Entries) {
        TReg* reg = regs_.Add();
        const auto found = byAddress.find(e.Addr);
        const TReg* own = found == byAddress.end() ? nullptr : found->second;
        const bool foreign = !own || own->RegType != e.Type;
        if (foreign) {
            // Shown as the file has it, grey, read only.
            reg->Name = e.Name;
            reg->Addr = e.Addr;
            reg->RegType = e.Type;
            reg->Io = ioR;
            reg->FontColor = 0x909090;
        } else {
            CopyDescription(*own, *reg);
        }
        // A value the description cannot show is shown as the file's text.
        reg->SetValue(e.Failed ? TValue::MakeNull() : e.Value, true, std::string());
        foreign_.push_back(foreign);
    }

    auto* layout = new QVBoxLayout(this);
    Header = new QLabel(this);
    Header->setObjectName(QStringLiteral("Header"));
    Header->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(Header);
    QStringList warnings;
    for (const std::string& w : CompareWarnings(set_, desc.Name, desc.Sign, set_.DeviceId))
        warnings << Q(w);
    const int foreignRows = static_cast<int>(std::count(foreign_.begin(), foreign_.end(), true));
    if (foreignRows > 0)
        warnings << QStringLiteral("Строк, которых нет в описании %1: %2 (показаны серым, "
                                   "сохраняются как есть)")
                        .arg(Q(desc.FileName))
                        .arg(foreignRows);
    Notice = new QLabel(warnings.join(QLatin1Char('\n')), this);
    Notice->setObjectName(QStringLiteral("Notice"));
    Notice->setStyleSheet(QStringLiteral("color: #C00000; font-weight: bold"));
    Notice->setVisible(!warnings.isEmpty());
    layout->addWidget(Notice);

    Table = new TRegisterView(this);
    Table->setObjectName(QStringLiteral("SetTable"));
    Table->Model()->SetSource(&regs_, errorTexts);
    Table->Model()->SetPollColumn(false);
    Table->setColumnHidden(TRegisterModel::ColCheck, true);
    Table->CreateEditLink = [this]() -> IEditLink* { return new TPropertyEditLink(Table); };
    layout->addWidget(Table, 1);
    // As in the main table: the value's editor opens on the row chosen.
    connect(Table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                const int row = current.row();
                QMetaObject::invokeMethod(
                    this, [this, row] { Table->EditCell(row, TRegisterModel::ColValue); },
                    Qt::QueuedConnection);
            });
    connect(Table->Model(), &QAbstractItemModel::dataChanged, this, [this] { UpdateTitle(); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    bSave = new QPushButton(QStringLiteral("Сохранить"), this);
    bSave->setObjectName(QStringLiteral("bSave"));
    bSaveAs = new QPushButton(QStringLiteral("Сохранить как…"), this);
    bSaveAs->setObjectName(QStringLiteral("bSaveAs"));
    bFactory = new QPushButton(QStringLiteral("Сравнить с заводскими значениями"), this);
    bFactory->setObjectName(QStringLiteral("bFactory"));
    auto* bClose = new QPushButton(QStringLiteral("Закрыть"), this);
    for (QPushButton* b : {bFactory, bSave, bSaveAs, bClose}) {
        b->setAutoDefault(false); // Enter belongs to the editor
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);
    connect(bSave, &QPushButton::clicked, this, [this] { SaveTo(path_); });
    connect(bSaveAs, &QPushButton::clicked, this, [this] { SaveAsClick(); });
    connect(bFactory, &QPushButton::clicked, this, [this] { emit FactoryCompareRequested(); });
    connect(bClose, &QPushButton::clicked, this, &QDialog::close);
    UpdateTitle();
}

bool TSetWindow::Modified() const {
    for (int r = 0; r < regs_.Count(); ++r)
        if (!foreign_[static_cast<size_t>(r)] && regs_.Items(r)->IsModified()) return true;
    return false;
}

void TSetWindow::UpdateTitle() {
    setWindowTitle(QStringLiteral("Набор параметров %1%2")
                       .arg(path_, Modified() ? QStringLiteral(" (изменён)") : QString()));
    Header->setText(QStringLiteral("Устройство: %1\nОписание: %2\nСохранено: %3%4")
                        .arg(Q(set_.Device), Q(set_.DescriptionFile), Q(set_.Saved),
                             set_.Edited.empty()
                                 ? QString()
                                 : QStringLiteral(", изменён: %1").arg(Q(set_.Edited))));
    bSave->setEnabled(Modified());
    // The comparison reads the file: only what is saved.
    bFactory->setEnabled(!Modified());
}

TParamSet TSetWindow::CurrentSet() const {
    TParamSet out = set_;
    for (int r = 0; r < regs_.Count(); ++r) {
        const TReg& reg = *regs_.Items(r);
        if (foreign_[static_cast<size_t>(r)] || !reg.IsModified()) continue;
        TParamEntry& e = out.Entries[static_cast<size_t>(r)];
        e.Value = reg.GetValue();
        e.Failed = e.Value.IsNull() || e.Value.IsEmpty();
        e.Shown = reg.DisplayText();
    }
    return out;
}

bool TSetWindow::SaveTo(const QString& path) {
    TParamSet out = CurrentSet();
    // Nothing a device could not take goes into the file.
    for (int r = 0; r < regs_.Count(); ++r) {
        const TParamEntry& e = out.Entries[static_cast<size_t>(r)];
        if (e.Failed || foreign_[static_cast<size_t>(r)]) continue;
        const std::string problem = SetValueProblem(e.Value, e.Type);
        if (!problem.empty()) {
            ShowWarning(this, QStringLiteral("%1 %2: значение не записать в устройство: %3")
                                  .arg(Q(CodeText(*regs_.Items(r))), Q(e.Name), Q(problem)));
            return false;
        }
    }
    std::string error;
    if (path != path_ && !CheckParamSetTarget(path.toStdString(), descriptionPath_, error)) {
        ShowWarning(this, Q(error));
        return false;
    }
    if (Modified()) out.Edited = LocalTimeText(std::chrono::system_clock::now(), false);
    bool changed = false;
    if (!WriteParamSetFile(path.toStdString(), out, error, &changed)) {
        if (!changed) {
            ShowWarning(this, Q(error));
            return false;
        }
        // Somebody else's version of the file must not vanish without a word.
        const int answer = MessageBoxWithCaptions(
            this,
            QStringLiteral("Файл %1 изменён другой программой после того, как был открыт. "
                           "Перезаписать его?")
                .arg(path),
            QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
            {QStringLiteral("Перезаписать"), QStringLiteral("Сохранить как…"),
             QStringLiteral("Отмена")},
            QMessageBox::Cancel);
        if (answer == QMessageBox::No) {
            const QString other =
                ChooseParamSetFile(this, QStringLiteral("Сохранить набор параметров как"),
                                   "SaveSetAsDialog", true, path_);
            return !other.isEmpty() && SaveTo(other);
        }
        if (answer != QMessageBox::Yes) return false;
        out.Stamp = {};
        if (!WriteParamSetFile(path.toStdString(), out, error)) {
            ShowWarning(this, Q(error));
            return false;
        }
    }
    set_ = out;
    path_ = path;
    for (int r = 0; r < regs_.Count(); ++r)
        if (regs_.Items(r)->IsModified()) regs_.Items(r)->CommitWrite();
    Table->Model()->RefreshAll();
    UpdateTitle();
    return true;
}

void TSetWindow::SaveAsClick() {
    const QString path = ChooseParamSetFile(this, QStringLiteral("Сохранить набор параметров как"),
                                            "SaveSetAsDialog", true, path_);
    if (!path.isEmpty()) SaveTo(path);
}

bool TSetWindow::MayClose() {
    if (closeConfirmed_) return true;
    Table->AcceptEditing();
    if (Modified()) {
        const int answer = MessageBoxWithCaptions(
            this, QStringLiteral("Сохранить изменения в наборе параметров %1?").arg(path_),
            QMessageBox::Question, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
            {QStringLiteral("Сохранить"), QStringLiteral("Не сохранять"),
             QStringLiteral("Отмена")},
            QMessageBox::Cancel);
        if (answer == QMessageBox::Cancel || (answer == QMessageBox::Yes && !SaveTo(path_)))
            return false;
    }
    closeConfirmed_ = true;
    return true;
}

void TSetWindow::reject() {
    if (MayClose()) QDialog::reject();
}

void TSetWindow::closeEvent(QCloseEvent* event) {
    if (!MayClose()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TSetWindow::showEvent(QShowEvent* event) {
    closeConfirmed_ = false;
    QDialog::showEvent(event);
}

} // namespace tunavox
