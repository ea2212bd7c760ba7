// The window's recording of polled values, the chart, the poll period and the exchange
// statistics.
#include <QFileDialog>
#include <QFileInfo>
#include <chrono>

#include "app/trend_face.h"

#include <QHBoxLayout>
#include <QSpinBox>
#include <QStatusBar>
#include <algorithm>

#include "app/main_window.h"
#include "link/usb_latency.h"
#include "device/table_text.h"
#include "device/value_codec.h"
#include "ui/file_dialogs.h"
#include "ui/message_box.h"
#include "util/time_text.h"

namespace tunavox {

TTrendFace::TTrendFace(TfMain& window) : QObject(&window), w_(window) {}

void TTrendFace::AddMenuItems(QMenu* service) {
    chRecordPoll =
        Named(service->addAction(QStringLiteral("Записывать опрос в файл…")), "chRecordPoll");
    chRecordPoll->setCheckable(true);
    miChart =
        Named(service->addAction(QStringLiteral("График опрашиваемых параметров")), "miChart");
    connect(miChart, &QAction::triggered, this, [this] { ShowChart(); });
    connect(chRecordPoll, &QAction::toggled, this, [this](bool on) { chRecordPollToggled(on); });
}

void TTrendFace::AddStatusLabels(QStatusBar* bar) {
    lRecord = Named(new QLabel(bar), "lRecord");
    bar->addPermanentWidget(lRecord);
    lStats = Named(new QLabel(bar), "lStats");
    bar->addPermanentWidget(lStats);
    StatsTimer = Named(new QTimer(this), "StatsTimer");
    StatsTimer->setInterval(500);
    connect(StatsTimer, &QTimer::timeout, this, [this] {
        ShowStats();
        ShowRecording();
    });
}

void TTrendFace::PollRead(const TAction& action, int64_t timeMs, const TDevice& dev) {
    if (w_.Line().Recorder.Recording()) RecordSample(action, timeMs, dev);
    AddSample(action, timeMs, dev);
}

void TTrendFace::Changed() {
    if (chart_) chart_->Changed();
}

void TTrendFace::ShowStats() {
    const TExchangeStats::Snapshot s = w_.Line().Stats.Take();
    lStats->setText(QString::fromStdString(TExchangeStats::Text(s)));
    const std::string devices = TExchangeStats::DevicesText(s);
    const QString roundTrip = w_.NetPort().RoundTripText();
    const QString timer =
        usbLatencyMs_ < 0 || !w_.PortOpen()
            ? QString()
            : QStringLiteral("\nТаймер задержки адаптера USB: %1 мс").arg(usbLatencyMs_);
    lStats->setToolTip(QString::fromStdString(TExchangeStats::Hint(s, w_.Dev().ErrorTexts.get()) +
                                              (devices.empty() ? "" : "\n" + devices)) +
                       (roundTrip.isEmpty() ? QString() : QStringLiteral("\n") + roundTrip) +
                       timer);
}

void TTrendFace::PortOpened(const std::string& port) {
    const TUsbLatency latency = UsbLatency(port);
    usbLatencyMs_ = latency.TimerMs;
    const std::string hint = UsbLatencyHint(port, latency);
    if (hint.empty() || !latencyTold_.insert(port).second) return;
    w_.ShowStatus(QString::fromStdString(hint), false, w_.NormalStatusColor());
}

void TTrendFace::chRecordPollToggled(bool on) {
    w_.Line().RecordStopped.clear(); // the user acted: the old reason has been seen
    if (!on) {
        StopRecording();
        return;
    }
    if (w_.Line().Recorder.Recording()) return;
    QFileDialog dialog(&w_, QStringLiteral("Записывать опрос в файл"));
    dialog.setObjectName(QStringLiteral("RecordDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    PrepareFileDialog(dialog);
    // Appending to an existing recording is what is wanted, not replacing it.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setNameFilters({QStringLiteral("Текст CSV (*.csv)"), QStringLiteral("Все файлы (*.*)")});
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    QString name = QStringLiteral("Опрос_") +
                   QString::fromStdString(LocalTimeText(std::chrono::system_clock::now(), false));
    name.replace(QLatin1Char(':'), QLatin1Char('-')).replace(QLatin1Char(' '), QLatin1Char('_'));
    dialog.selectFile(name + QStringLiteral(".csv"));
    // A file that cannot be recorded to (not a recording, no access): say why and ask
    // for another one.
    while (dialog.exec() == QDialog::Accepted && !ChosenFile(dialog).isEmpty()) {
        QString why;
        if (StartRecording(ChosenFile(dialog), &why)) return;
        ShowWarning(&w_, why);
    }
    const QSignalBlocker quiet(chRecordPoll);
    chRecordPoll->setChecked(false);
    ShowRecording();
}

bool TTrendFace::StartRecording(const QString& path, QString* why) {
    std::string error;
    w_.Line().Recorder.OnFailure = [this](const std::string& reason) {
        // From the recorder's thread: said on the window's.
        const QString text = QString::fromStdString(reason);
        QMetaObject::invokeMethod(
            this,
            [this, text] {
                const QSignalBlocker quiet(chRecordPoll);
                chRecordPoll->setChecked(false);
                w_.Line().Recorder.Stop();
                w_.Line().Wide.reset();
                const QString why = QStringLiteral("Запись опроса остановлена: ") + text;
                w_.Line().RecordStopped = why.toStdString();
                w_.ShowError(why);
                ShowRecording();
            },
            Qt::QueuedConnection);
    };
    std::unique_ptr<TWideRecording> wide;
    if (chWideRecord->isChecked()) {
        wide = WideRecordingColumns();
        if (!wide) {
            const QString text =
                QStringLiteral("Не удалось начать запись опроса в файл %1: %2")
                    .arg(path, QStringLiteral("отметьте параметры — по столбцу на каждый"));
            if (why)
                *why = text;
            else
                w_.ShowError(text);
            return false;
        }
    }
    // With several devices each value names its device: in a field of its own, or in the
    // wide form's column titles.
    const bool devices = w_.Devices().Several();
    const std::string header = wide ? wide->Header()
                               : devices ? std::string("Время;ID;Код;Параметр;Значение;Ошибка")
                                         : std::string();
    if (!w_.Line().Recorder.Start(path.toStdString(), error, header)) {
        const QString text = QStringLiteral("Не удалось начать запись опроса в файл %1: %2")
                                 .arg(path, QString::fromStdString(error));
        if (why)
            *why = text;
        else
            w_.ShowError(text);
        return false;
    }
    w_.Line().RecordPath = path.toStdString();
    w_.Line().RecordDevices = devices;
    w_.Line().Wide = std::move(wide);
    w_.Line().RecordStopped.clear();
    const QSignalBlocker quiet(chRecordPoll);
    chRecordPoll->setChecked(true);
    if (w_.Line().Recorder.TornLineRemoved())
        w_.ShowStatus(QStringLiteral("Из файла записи удалена оборванная последняя строка"), true,
                      w_.NormalStatusColor());
    ShowRecording();
    return true;
}

void TTrendFace::StopRecording(const QString& why) {
    // The pass begun is written as far as it got.
    if (w_.Line().Wide && w_.Line().Recorder.Recording()) {
        const std::string rest = w_.Line().Wide->Finish();
        if (!rest.empty()) w_.Line().Recorder.RecordText(rest);
    }
    w_.Line().Wide.reset();
    w_.Line().Recorder.Stop();
    const QSignalBlocker quiet(chRecordPoll);
    chRecordPoll->setChecked(false);
    if (!why.isEmpty()) {
        w_.Line().RecordStopped = why.toStdString();
        w_.ShowError(why);
    }
    ShowRecording();
}

void TTrendFace::ShowRecording() {
    if (w_.Line().Recorder.Recording()) {
        lRecord->setStyleSheet(QString());
        lRecord->setText(
            QStringLiteral("Запись: %1, строк: %2")
                .arg(QFileInfo(QString::fromStdString(w_.Line().RecordPath)).fileName())
                .arg(w_.Line().Recorder.Lines()));
        lRecord->setToolTip(QString::fromStdString(w_.Line().RecordPath));
    } else {
        // Why it stopped stays in sight until the user touches the recording again.
        lRecord->setStyleSheet(w_.Line().RecordStopped.empty() ? QString()
                                                               : QStringLiteral("color: #C00000"));
        lRecord->setText(QString::fromStdString(w_.Line().RecordStopped));
        lRecord->setToolTip(w_.Line().RecordStopped.empty()
                                ? QString()
                                : QString::fromStdString(w_.Line().RecordPath));
    }
}

std::vector<TChartSeries> TTrendFace::ChartSeries() const {
    // Every device's ticked rows; with several, each line named "ID N · code name".
    std::vector<TChartSeries> out;
    for (int t = 0; t < w_.Devices().Count(); ++t) {
        const TDevice& dev = w_.Devices().Device(t);
        const TRegisterModel* m = w_.Devices().View(t)->Model();
        const QString prefix = w_.Devices().SeriesPrefix(dev);
        for (int r = 0; r < m->rowCount(); ++r) {
            const TReg* reg = m->Reg(r);
            // A WOR row's poll is a write: it has no values to chart.
            if (!reg || reg->RegType == rtStr || reg->RegType == rtHeader || reg->Io == ioWOR ||
                !m->HasCheckBox(r) || m->CheckState(r) != Qt::Checked)
                continue;
            const QString code = QString::fromStdString(CodeText(*reg));
            out.push_back(
                {dev.Key(r), prefix + code,
                 prefix + code + QLatin1Char(' ') + QString::fromStdString(NameText(*reg)), reg});
        }
    }
    return out;
}

void TTrendFace::ShowChart() {
    if (!chart_) {
        chart_ = new TChartWindow(w_.Line().Samples, &w_);
        chart_->setAttribute(Qt::WA_DeleteOnClose);
        chart_->SeriesSource = [this] { return ChartSeries(); };
        chart_->ErrorTexts = w_.Dev().ErrorTexts.get();
        chart_->Subject = [this] {
            const QString device =
                w_.Dev().Entry >= 0 && w_.Dev().Entry < static_cast<int>(w_.Catalogue().size())
                    ? QString::fromStdString(
                          w_.Catalogue()[static_cast<size_t>(w_.Dev().Entry)].Caption)
                    : QString();
            const QString port = QStringLiteral("порт ") + w_.cbPort->currentText();
            return device.isEmpty() ? port : device + QStringLiteral(", ") + port;
        };
    }
    chart_->show();
    chart_->raise();
    chart_->activateWindow();
    chart_->Redraw();
}

void TTrendFace::AddSample(const TAction& action, int64_t timeMs, const TDevice& dev) {
    // Every completed poll read of a numeric row is one sample; a failed one a gap.
    const TReg& reg = *action.Reg;
    if (reg.RegType == rtStr || reg.RegType == rtHeader || reg.Io == ioWOR || action.Node < 0)
        return;
    double value = 0;
    const std::string error = action.Error();
    if (error.empty() && reg.GetValue().AsDouble(value))
        w_.Line().Samples.Add(dev.Key(action.Node), timeMs, value);
    else
        w_.Line().Samples.Add(dev.Key(action.Node), timeMs, std::nullopt,
                              error.size() == 1 ? static_cast<uint8_t>(error[0]) : 0,
                              error.empty() ? std::string("нет значения")
                                            : ErrorTextInWords(error, dev.ErrorTexts.get()));
    if (chart_) chart_->Changed();
}

void TTrendFace::RecordSample(const TAction& action, int64_t timeMs, const TDevice& dev) {
    // Reads only: a WOR row's poll writes it.
    if (action.Reg->Io == ioWOR) return;
    TPollSample sample = PollSampleOf(*action.Reg, timeMs, action.Reg->GetValue(), action.Error(),
                                      dev.ErrorTexts.get());
    if (w_.Line().RecordDevices) sample.Device = std::to_string(static_cast<uint32_t>(dev.Id));
    if (!w_.Line().Wide) {
        w_.Line().Recorder.Record(sample);
        return;
    }
    const std::string line = w_.Line().Wide->Add(dev.Key(action.Node), sample);
    if (!line.empty()) w_.Line().Recorder.RecordText(line);
}

void TTrendFace::AddPeriodBox(QWidget* bottom, QHBoxLayout* row, QMenu* service) {
    // One group, so that a narrow window (a large display scale) can give it a line of
    // its own below the strip instead of cutting the strip's captions.
    auto* periodBox = new QWidget(bottom);
    periodBox->setObjectName(QStringLiteral("PeriodBox"));
    auto* group = new QHBoxLayout(periodBox);
    group->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(QStringLiteral("Период опроса:"), periodBox);
    group->addWidget(label);
    row->addWidget(periodBox);
    sePollPeriod = Named(new QSpinBox(periodBox), "sePollPeriod");
    // Any number can be typed: one past the limit is answered, not cut to six digits.
    sePollPeriod->setRange(0, 99999999);
    sePollPeriod->setSingleStep(100);
    sePollPeriod->setSuffix(QStringLiteral(" мс"));
    sePollPeriod->setSpecialValueText(QStringLiteral("как можно чаще"));
    // Applied on Enter, on leaving the box and on each arrow step, not on every digit.
    sePollPeriod->setKeyboardTracking(false);
    sePollPeriod->setAccessibleName(QStringLiteral("Период опроса"));
    sePollPeriod->setToolTip(QStringLiteral(
        "0 — как можно чаще; от 100 мс до 1 ч — проход по отмеченным параметрам не чаще "
        "раза за период, между проходами линия свободна"));
    // Wide enough for the longest of its texts with the arrows beside.
    const QFontMetrics metrics(sePollPeriod->font());
    sePollPeriod->setMinimumWidth(
        std::max(metrics.horizontalAdvance(sePollPeriod->specialValueText()),
                 metrics.horizontalAdvance(QStringLiteral("3600000 мс"))) +
        metrics.height() * 2);
    label->setBuddy(sePollPeriod);
    group->addWidget(sePollPeriod);
    connect(sePollPeriod, &QSpinBox::valueChanged, this, [this](int ms) { SetPollPeriod(ms); });

    chWideRecord =
        Named(new QAction(QStringLiteral("Запись опроса: строка на проход"), &w_), "chWideRecord");
    chWideRecord->setCheckable(true);
    chWideRecord->setToolTip(
        QStringLiteral("Новая запись — строка на каждый проход опроса со столбцом на каждый "
                       "отмеченный параметр, как читает электронная таблица"));
    service->insertAction(miChart, chWideRecord);
}

void TTrendFace::SetPollPeriod(int ms) {
    if (ms > TPollPace::kMaxMs) {
        const QSignalBlocker quiet(sePollPeriod);
        sePollPeriod->setValue(TPollPace::kMaxMs);
        w_.Line().Pace.SetPeriod(TPollPace::kMaxMs);
        w_.ShowError(QStringLiteral("Период опроса не больше %1 мс (%2): установлен %2")
                         .arg(TPollPace::kMaxMs)
                         .arg(QString::fromStdString(TPollPace::Text(TPollPace::kMaxMs))));
        if (waitingForPass_ && w_.PollDelay->isActive()) w_.chPollClick();
        return;
    }
    if (!TPollPace::Valid(ms)) {
        // 1..99 ms: the shortest period is meant.
        const QSignalBlocker quiet(sePollPeriod);
        ms = TPollPace::kMinMs;
        sePollPeriod->setValue(ms);
    }
    w_.Line().Pace.SetPeriod(ms);
    w_.ShowStatus(
        QStringLiteral("Период опроса: %1").arg(QString::fromStdString(TPollPace::Text(ms))), true,
        w_.NormalStatusColor());
    // A pass held back for the old period is timed anew.
    if (waitingForPass_ && w_.PollDelay->isActive()) w_.chPollClick();
}

std::unique_ptr<TWideRecording> TTrendFace::WideRecordingColumns() const {
    std::vector<TWideRecording::TColumn> columns;
    for (int t = 0; t < w_.Devices().Count(); ++t) {
        const TDevice& dev = w_.Devices().Device(t);
        const TRegisterModel* m = w_.Devices().View(t)->Model();
        const std::string prefix = w_.Devices().SeriesPrefix(dev).toStdString();
        for (int r = 0; r < m->rowCount(); ++r) {
            const TReg* reg = m->Reg(r);
            // A WOR row's poll writes it: nothing to record.
            if (!reg || reg->RegType == rtHeader || reg->Io == ioWOR || !m->HasCheckBox(r) ||
                m->CheckState(r) != Qt::Checked)
                continue;
            columns.push_back({dev.Key(r), prefix + CodeText(*reg) + " " + NameText(*reg)});
        }
    }
    if (columns.empty()) return nullptr;
    return std::make_unique<TWideRecording>(std::move(columns));
}

} // namespace tunavox
