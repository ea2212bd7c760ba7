// The main window: recording polled values to a file and the exchange statistics.
#include <QFileDialog>
#include <chrono>

#include "app/main_window.h"
#include "device/table_text.h"
#include "device/value_codec.h"
#include "util/time_text.h"

namespace tunavox {

void TfMain::ShowStats() {
    const TExchangeStats::Snapshot s = stats_.Take();
    lStats->setText(QString::fromStdString(TExchangeStats::Text(s)));
    lStats->setToolTip(QString::fromStdString(TExchangeStats::Hint(s)));
}

void TfMain::chRecordPollToggled(bool on) {
    if (!on) {
        StopRecording();
        return;
    }
    if (recorder_.Recording()) return;
    QFileDialog dialog(this, QStringLiteral("Записывать опрос в файл"));
    dialog.setObjectName(QStringLiteral("RecordDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    // Appending to an existing recording is what is wanted, not replacing it.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setNameFilters({QStringLiteral("Текст CSV (*.csv)"), QStringLiteral("Все файлы (*.*)")});
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    QString name = QStringLiteral("Опрос_") +
                   QString::fromStdString(LocalTimeText(std::chrono::system_clock::now(), false));
    name.replace(QLatin1Char(':'), QLatin1Char('-')).replace(QLatin1Char(' '), QLatin1Char('_'));
    dialog.selectFile(name + QStringLiteral(".csv"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty() ||
        !StartRecording(dialog.selectedFiles().first())) {
        const QSignalBlocker quiet(chRecordPoll);
        chRecordPoll->setChecked(false);
    }
}

bool TfMain::StartRecording(const QString& path) {
    std::string error;
    recorder_.OnFailure = [this](const std::string& why) {
        // From the recorder's thread: said on the window's.
        const QString text = QString::fromStdString(why);
        QMetaObject::invokeMethod(
            this,
            [this, text] {
                const QSignalBlocker quiet(chRecordPoll);
                chRecordPoll->setChecked(false);
                recorder_.Stop();
                ShowError(QStringLiteral("Запись опроса остановлена: ") + text);
            },
            Qt::QueuedConnection);
    };
    if (!recorder_.Start(path.toStdString(), error)) {
        ShowError(QStringLiteral("Не удалось начать запись опроса: ") +
                  QString::fromStdString(error));
        return false;
    }
    const QSignalBlocker quiet(chRecordPoll);
    chRecordPoll->setChecked(true);
    return true;
}

void TfMain::StopRecording() {
    recorder_.Stop();
    const QSignalBlocker quiet(chRecordPoll);
    chRecordPoll->setChecked(false);
}

std::vector<TChartSeries> TfMain::ChartSeries() const {
    std::vector<TChartSeries> out;
    const TRegisterModel* m = vstList->Model();
    for (int r = 0; r < m->rowCount(); ++r) {
        const TReg* reg = m->Reg(r);
        if (!reg || reg->RegType == rtStr || reg->RegType == rtHeader || !m->HasCheckBox(r) ||
            m->CheckState(r) != Qt::Checked)
            continue;
        const QString code = QString::fromStdString(CodeText(*reg));
        out.push_back({r, code, code + QLatin1Char(' ') + QString::fromStdString(NameText(*reg))});
    }
    return out;
}

void TfMain::ShowChart() {
    if (!chart_) {
        chart_ = new TChartWindow(samples_, this);
        chart_->setAttribute(Qt::WA_DeleteOnClose);
        chart_->SeriesSource = [this] { return ChartSeries(); };
    }
    chart_->show();
    chart_->raise();
    chart_->activateWindow();
    chart_->Redraw();
}

void TfMain::AddSample(const TAction& action) {
    // Every completed poll read of a numeric row is one sample; a failed one a gap.
    const TReg& reg = *action.Reg;
    if (reg.RegType == rtStr || reg.RegType == rtHeader || action.Node < 0) return;
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    double value = 0;
    const std::string error = action.Error();
    if (error.empty() && reg.GetValue().AsDouble(value))
        samples_.Add(action.Node, now, value);
    else
        samples_.Add(action.Node, now, std::nullopt, error.size() == 1,
                     error.empty() ? std::string("нет значения")
                                   : ErrorTextInWords(error, errorTexts_.get()));
    if (chart_) chart_->Changed();
}

void TfMain::RecordSample(const TAction& action) {
    const TReg& reg = *action.Reg;
    recorder_.Record(
        {LocalTimeText(std::chrono::system_clock::now(), true), CodeText(reg), NameText(reg),
         ValueText(reg, errorTexts_.get()),
         action.HasError() ? ErrorTextInWords(action.Error(), errorTexts_.get()) : std::string()});
}

} // namespace tunavox
