// The main window: the poll period and the wide recording (a column per polled row).
#include <QHBoxLayout>
#include <QSpinBox>
#include <algorithm>

#include "app/main_window.h"
#include "device/table_text.h"

namespace tunavox {

void TfMain::BuildPollingControls(QWidget* bottom, QHBoxLayout* row, QMenu* service) {
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
        Named(new QAction(QStringLiteral("Запись опроса: строка на проход"), this), "chWideRecord");
    chWideRecord->setCheckable(true);
    chWideRecord->setToolTip(
        QStringLiteral("Новая запись — строка на каждый проход опроса со столбцом на каждый "
                       "отмеченный параметр, как читает электронная таблица"));
    service->insertAction(miChart, chWideRecord);
}

void TfMain::SetPollPeriod(int ms) {
    if (ms > TPollPace::kMaxMs) {
        const QSignalBlocker quiet(sePollPeriod);
        sePollPeriod->setValue(TPollPace::kMaxMs);
        line_->Pace.SetPeriod(TPollPace::kMaxMs);
        ShowError(QStringLiteral("Период опроса не больше %1 мс (%2): установлен %2")
                      .arg(TPollPace::kMaxMs)
                      .arg(QString::fromStdString(TPollPace::Text(TPollPace::kMaxMs))));
        if (waitingForPass_ && PollDelay->isActive()) chPollClick();
        return;
    }
    if (!TPollPace::Valid(ms)) {
        // 1..99 ms: the shortest period is meant.
        const QSignalBlocker quiet(sePollPeriod);
        ms = TPollPace::kMinMs;
        sePollPeriod->setValue(ms);
    }
    line_->Pace.SetPeriod(ms);
    ShowStatus(QStringLiteral("Период опроса: %1").arg(QString::fromStdString(TPollPace::Text(ms))),
               true, normalStatusColor_);
    // A pass held back for the old period is timed anew.
    if (waitingForPass_ && PollDelay->isActive()) chPollClick();
}

std::unique_ptr<TWideRecording> TfMain::WideRecordingColumns() const {
    std::vector<TWideRecording::TColumn> columns;
    const TRegisterModel* m = vstList->Model();
    for (int r = 0; r < m->rowCount(); ++r) {
        const TReg* reg = m->Reg(r);
        // A WOR row's poll writes it: nothing to record.
        if (!reg || reg->RegType == rtHeader || reg->Io == ioWOR || !m->HasCheckBox(r) ||
            m->CheckState(r) != Qt::Checked)
            continue;
        columns.push_back({r, CodeText(*reg) + " " + NameText(*reg)});
    }
    if (columns.empty()) return nullptr;
    return std::make_unique<TWideRecording>(std::move(columns));
}

} // namespace tunavox
