#include "ui/chart_window.h"

#include "widgets/register_accessible.h"

#include <QBuffer>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QVBoxLayout>
#include <chrono>
#include <cmath>
#include <qcustomplot.h>

#include "device/value_codec.h"
#include "trend/chart_palette.h"
#include "trend/poll_recorder.h"
#include "ui/file_dialogs.h"
#include "ui/screen_fit.h"
#include "util/file_io.h"
#include "util/time_text.h"

namespace tunavox {
namespace {

std::string TimeText(int64_t ms) {
    return LocalTimeText(std::chrono::system_clock::time_point(std::chrono::milliseconds(ms)),
                         true);
}

// A sample's number as the register's value, so it reads as the table shows it.
TValue SampleValue(const TReg& reg, double y) {
    if (reg.RegType == rtFloat) return TValue(y);
    TValue value;
    TextToValue(std::to_string(std::llround(y)), reg.RegType, value);
    return value;
}

// The units of the lines on one axis, for its label: "°C", or "°C, бар" when they differ.
QString AxisUnits(const std::vector<QString>& units) {
    QStringList distinct;
    for (const QString& u : units)
        if (!u.isEmpty() && !distinct.contains(u)) distinct << u;
    return distinct.join(QStringLiteral(", "));
}

} // namespace

TChartWindow::TChartWindow(const TSampleStore& store, QWidget* parent)
    : QWidget(parent, Qt::Window), store_(store) {
    setObjectName(QStringLiteral("ChartWindow"));
    TAccessibleRegisterTable::Install(); // the list of lines for screen readers
    setWindowTitle(QStringLiteral("График"));
    resize(1000, 560);
    KeepOnScreen(this);
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    chFollow = new QCheckBox(QStringLiteral("Следить"), this);
    chFollow->setObjectName(QStringLiteral("chFollow"));
    chFollow->setChecked(true);
    bSaveImage = new QPushButton(QStringLiteral("Сохранить изображение…"), this);
    bSaveImage->setObjectName(QStringLiteral("bSaveImage"));
    bExport = new QPushButton(QStringLiteral("Экспорт данных…"), this);
    bExport->setObjectName(QStringLiteral("bExport"));
    lNote = new QLabel(this);
    lNote->setObjectName(QStringLiteral("lNote"));
    // A long note wraps instead of widening the window past a small screen.
    lNote->setWordWrap(true);
    lNote->setMinimumWidth(80);
    top->addWidget(chFollow);
    top->addWidget(lNote, 1);
    lCursor = new QLabel(this);
    lCursor->setObjectName(QStringLiteral("lCursor"));
    top->addWidget(lCursor);
    top->addWidget(bSaveImage);
    top->addWidget(bExport);
    layout->addLayout(top);

    auto* middle = new QHBoxLayout;
    Plot = new QCustomPlot(this);
    Plot->setObjectName(QStringLiteral("Plot"));
    Plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    Plot->setMouseTracking(true); // the crosshair follows the mouse without a button
    // Lines of one-pixel min/max columns gain nothing from antialiasing, and cost a lot.
    Plot->setNotAntialiasedElements(QCP::aePlottables);
    Plot->axisRect()->setRangeDrag(Qt::Horizontal);
    Plot->axisRect()->setRangeZoom(Qt::Horizontal);
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeFormat(QStringLiteral("hh:mm:ss"));
    Plot->xAxis->setTicker(ticker);
    Plot->yAxis2->setVisible(false);
    // On the screen the list at the right is the legend; a saved picture gets the
    // legend under the plot (see SaveImage).
    Plot->legend->setVisible(false);
    Plot->legend->setFont(font());
    Plot->axisRect()->insetLayout()->take(Plot->legend);
    Plot->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    Plot->legend->setWrap(3);
    Plot->legend->setBorderPen(Qt::NoPen);
    // What to do while there is nothing to draw.
    empty_ = new QCPItemText(Plot);
    empty_->position->setType(QCPItemPosition::ptAxisRectRatio);
    empty_->position->setCoords(0.5, 0.5);
    empty_->setText(QStringLiteral("Отметьте параметры и включите опрос"));
    empty_->setColor(QColor(0x60, 0x60, 0x60));
    QFont hint = font();
    hint.setPointSizeF(hint.pointSizeF() * 1.3);
    empty_->setFont(hint);
    cursor_ = new QCPItemStraightLine(Plot);
    cursor_->setPen(QPen(QColor(0x60, 0x60, 0x60), 1, Qt::DashLine));
    cursor_->setVisible(false);
    middle->addWidget(Plot, 1);
    lSeries = new QListWidget(this);
    lSeries->setObjectName(QStringLiteral("lSeries"));
    lSeries->setMaximumWidth(260);
    // Long names wrap rather than being cut; each item's tooltip holds its whole text.
    lSeries->setWordWrap(true);
    lSeries->setTextElideMode(Qt::ElideNone);
    lSeries->setToolTip(QStringLiteral("Снимите отметку, чтобы скрыть линию; двойной щелчок "
                                       "или Enter переносит её на правую ось"));
    chNormalise = new QCheckBox(QStringLiteral("Каждая линия в своём масштабе"), this);
    chNormalise->setObjectName(QStringLiteral("chNormalise"));
    chNormalise->setToolTip(QStringLiteral(
        "Каждая видимая линия растягивается от своего наименьшего до наибольшего значения "
        "за показанное время (0–100 %); значения под курсором — как в таблице"));
    auto* side = new QVBoxLayout;
    side->addWidget(chNormalise);
    side->addWidget(lSeries, 1);
    middle->addLayout(side);
    layout->addLayout(middle, 1);

    redraw_.setSingleShot(true);
    redraw_.setInterval(100);
    connect(&redraw_, &QTimer::timeout, this, [this] { Redraw(); });
    connect(chFollow, &QCheckBox::toggled, this, [this] { Redraw(); });
    connect(chNormalise, &QCheckBox::toggled, this, [this] { Redraw(); });
    connect(Plot->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            [this](const QCPRange& r) {
                if (updatingRange_) return;
                // The user moved the time axis: keep that view.
                spanMs_ = std::max<int64_t>(1000, static_cast<int64_t>(r.size() * 1000));
                {
                    const QSignalBlocker quiet(chFollow);
                    chFollow->setChecked(false);
                }
                Changed();
            });
    connect(Plot, &QCustomPlot::mouseMove, this, [this](QMouseEvent* e) { MouseMoved(e); });
    connect(lSeries, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        SetVisible(item->data(Qt::UserRole).toInt(), item->checkState() == Qt::Checked);
    });
    connect(lSeries, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        const int row = item->data(Qt::UserRole).toInt();
        if (const Line* l = Find(row)) SetRightAxis(row, !l->Right);
    });
    // The file to write, asked in the program's dialog (kept on the screen as every file
    // dialog is): empty when cancelled.
    const auto ask = [this](const QString& title, const QString& name, const QString& filter) {
        QFileDialog dialog(this, title);
        dialog.setObjectName(QStringLiteral("ChartFileDialog"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilter(filter);
        PrepareFileDialog(dialog);
        dialog.selectFile(QDir(DialogStartFolder()).filePath(name));
        return dialog.exec() == QDialog::Accepted ? ChosenFile(dialog) : QString();
    };
    connect(bSaveImage, &QPushButton::clicked, this, [this, ask] {
        const QString path =
            ask(QStringLiteral("Сохранить изображение"), QStringLiteral("График.png"),
                QStringLiteral("Изображения PNG (*.png)"));
        if (path.isEmpty()) return;
        QString error;
        lNote->setText(SaveImage(path, &error) ? QStringLiteral("Изображение сохранено: ") + path
                                               : error);
    });
    connect(bExport, &QPushButton::clicked, this, [this, ask] {
        const QString path = ask(QStringLiteral("Экспорт данных"), QStringLiteral("График.csv"),
                                 QStringLiteral("Текст CSV (*.csv)"));
        if (path.isEmpty()) return;
        QString error;
        lNote->setText(ExportData(path, error)
                           ? QStringLiteral("Данные сохранены: ") + path
                           : QStringLiteral("Не удалось сохранить данные: ") + error);
    });
    const int64_t now = WallClockMs();
    SetTimeRange(now - spanMs_, now);
}

TChartWindow::Line* TChartWindow::Find(int row) {
    for (Line& l : lines_)
        if (l.Series.Row == row) return &l;
    return nullptr;
}

const TChartWindow::Line* TChartWindow::Find(int row) const {
    return const_cast<TChartWindow*>(this)->Find(row);
}

void TChartWindow::Changed() {
    if (!redraw_.isActive()) redraw_.start();
}

void TChartWindow::SyncSeries() {
    const std::vector<TChartSeries> wanted =
        SeriesSource ? SeriesSource() : std::vector<TChartSeries>{};
    bool same = !rebuild_ && wanted.size() == lines_.size();
    for (size_t i = 0; same && i < wanted.size(); ++i)
        same = wanted[i].Row == lines_[i].Series.Row && wanted[i].Label == lines_[i].Series.Label;
    if (same) return;
    rebuild_ = false;
    // Rows ticked or unticked since: lines join or leave, keeping their settings.
    std::vector<Line> next;
    for (const TChartSeries& s : wanted) {
        Line l;
        l.Series = s;
        const auto it = settings_.find(s.Row);
        if (it != settings_.end()) {
            l.Visible = it->second.first;
            l.Right = it->second.second;
        } else if (s.Reg && !s.Reg->Poll &&
                   (s.Reg->RegType == rtLong || s.Reg->RegType == rtULong)) {
            // A 32-bit number the description does not poll (a serial number, a
            // counter) would only squash the rest: listed, shown when ticked in the list.
            l.Visible = false;
        }
        next.push_back(l);
    }
    // A line keeps its colour while it stays; a new one takes a colour no line has.
    std::vector<int> rows;
    for (const Line& l : next)
        rows.push_back(l.Series.Row);
    colours_.Keep(rows);
    Plot->clearGraphs();
    {
        const QSignalBlocker quiet(lSeries);
        lSeries->clear();
        for (size_t i = 0; i < next.size(); ++i) {
            Line& l = next[i];
            QCPAxis* y = l.Right ? Plot->yAxis2 : Plot->yAxis;
            l.Graph = Plot->addGraph(Plot->xAxis, y);
            // A thin cosmetic pen: a wide one is stroked as a filled outline, a hundred
            // times slower with the min/max zig-zag of dense data.
            const QColor colour(QRgb(colours_.For(l.Series.Row)));
            QPen pen(colour, 1);
            pen.setCosmetic(true);
            l.Graph->setPen(pen);
            l.Graph->setName(l.Series.Label + (l.Right && !Normalised()
                                                   ? QStringLiteral(" (правая ось)")
                                                   : QString()));
            l.Graph->setVisible(l.Visible);
            l.Graph->setAdaptiveSampling(false); // the store decimates already
            l.Errors = Plot->addGraph(Plot->xAxis, y);
            l.Errors->setLineStyle(QCPGraph::lsNone);
            l.Errors->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCross, Qt::red, 9));
            l.Errors->setVisible(l.Visible);
            l.Errors->removeFromLegend();
            if (!l.Visible) l.Graph->removeFromLegend();
            auto* item = new QListWidgetItem(l.Graph->name(), lSeries);
            item->setData(Qt::UserRole + 1, l.Graph->name());
            item->setData(Qt::UserRole, l.Series.Row);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
            item->setCheckState(l.Visible ? Qt::Checked : Qt::Unchecked);
            item->setForeground(colour);
            item->setToolTip(l.Graph->name());
        }
    }
    lines_ = std::move(next);
}

void TChartWindow::SetVisible(int row, bool visible) {
    settings_.try_emplace(row, true, false).first->second.first = visible;
    rebuild_ = true;
    Redraw();
}

void TChartWindow::SetRightAxis(int row, bool right) {
    axisChosen_.insert(row);
    settings_.try_emplace(row, true, false).first->second.second = right;
    rebuild_ = true;
    Redraw();
}

bool TChartWindow::IsVisible(int row) const {
    const Line* l = Find(row);
    return l && l->Visible;
}

void TChartWindow::SetTimeRange(int64_t t0, int64_t t1) {
    updatingRange_ = true;
    Plot->xAxis->setRange(t0 / 1000.0, t1 / 1000.0);
    updatingRange_ = false;
}

std::pair<int64_t, int64_t> TChartWindow::TimeRange() const {
    const QCPRange r = Plot->xAxis->range();
    return {static_cast<int64_t>(std::llround(r.lower * 1000)),
            static_cast<int64_t>(std::llround(r.upper * 1000))};
}

void TChartWindow::Redraw() {
    SyncSeries();
    bool anySamples = false;
    if (chFollow->isChecked()) {
        int64_t latest = 0, earliest = 0;
        for (const Line& l : lines_) {
            const auto& series = store_.Series(l.Series.Row);
            if (series.empty()) continue;
            latest = std::max(latest, series.back().TimeMs);
            earliest =
                earliest == 0 ? series.front().TimeMs : std::min(earliest, series.front().TimeMs);
        }
        if (latest == 0) latest = earliest = WallClockMs();
        // Less than the span recorded yet: the samples fill the plot, no empty stretch
        // before them.
        const int64_t span = std::clamp<int64_t>(latest - earliest, 1000, spanMs_);
        SetTimeRange(latest - span, latest + span / 50);
    }
    const auto [t0, t1] = TimeRange();
    const int columns = std::max(1, Plot->axisRect()->width());
    bool anyLeft = false, anyRight = false;
    double lo[2] = {0, 0}, hi[2] = {0, 0};
    struct Range {
        double Lo = 0, Hi = 0;
        bool Has = false;
    };
    std::vector<Range> ranges(lines_.size());
    for (const Line& l : lines_) {
        QVector<double> x, y, ex, ey;
        const auto cols = store_.Decimate(l.Series.Row, t0, t1, columns);
        const double step = static_cast<double>(t1 - t0) / columns / 1000.0;
        // Normalised, the line spans 0..100 % between its extremes in the time shown.
        double scale = 1, offset = 0;
        if (Normalised()) {
            bool has = false;
            double a = 0, b = 0;
            for (const auto& col : cols)
                if (col.HasValue) {
                    a = has ? std::min(a, col.Min) : col.Min;
                    b = has ? std::max(b, col.Max) : col.Max;
                    has = true;
                }
            // A flat line sits in the middle.
            offset = b > a ? a : a - 0.5;
            scale = b > a ? 100.0 / (b - a) : 100.0;
        }
        const auto norm = [&](double v) { return (v - offset) * scale; };
        for (int c = 0; c < columns; ++c) {
            const auto& col = cols[static_cast<size_t>(c)];
            const double t = t0 / 1000.0 + step * (c + 0.5);
            if (col.HasGap) {
                // A failed read breaks the line.
                x << t;
                y << std::nan("");
            }
            if (col.HasDeviceError) {
                ex << t;
                ey << (col.HasValue ? norm(col.Max) : norm(offset));
            }
            if (col.HasValue) {
                x << t << t;
                y << norm(col.Min) << norm(col.Max);
                anySamples = true;
            }
        }
        l.Graph->setData(x, y, true);
        l.Errors->setData(ex, ey, true);
        // The range from the columns: the same extremes without a second pass.
        Range& r = ranges[static_cast<size_t>(&l - lines_.data())];
        for (const auto& col : cols) {
            if (!col.HasValue) continue;
            r.Lo = r.Has ? std::min(r.Lo, norm(col.Min)) : norm(col.Min);
            r.Hi = r.Has ? std::max(r.Hi, norm(col.Max)) : norm(col.Max);
            r.Has = true;
        }
        anySamples = anySamples || !l.Errors->data()->isEmpty();
    }
    // A line whose values are a hundred times larger than the others' (a counter, say)
    // would flatten them: unless the engineer chose its axis, it goes to the right one.
    std::vector<double> sizes;
    for (size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].Visible && ranges[i].Has)
            sizes.push_back(std::max(std::fabs(ranges[i].Lo), std::fabs(ranges[i].Hi)));
    std::vector<double> sorted = sizes;
    std::sort(sorted.begin(), sorted.end());
    const double typical = sorted.empty() ? 0 : sorted[(sorted.size() - 1) / 2];
    for (size_t i = 0; i < lines_.size(); ++i) {
        Line& l = lines_[i];
        if (axisChosen_.count(l.Series.Row) && !Normalised()) continue;
        const double size =
            ranges[i].Has ? std::max(std::fabs(ranges[i].Lo), std::fabs(ranges[i].Hi)) : 0;
        // Normalised lines share one 0..100 % axis.
        const bool right = Normalised() ? false
                           : axisChosen_.count(l.Series.Row)
                               ? l.Right
                               : sorted.size() > 1 && typical > 0 && size > 100 * typical;
        if (right == l.Right) continue;
        l.Right = right;
        QCPAxis* axis = right ? Plot->yAxis2 : Plot->yAxis;
        l.Graph->setValueAxis(axis);
        l.Errors->setValueAxis(axis);
        l.Graph->setName(l.Series.Label + (right ? QStringLiteral(" (правая ось)") : QString()));
        if (QListWidgetItem* item = lSeries->item(static_cast<int>(i))) {
            const QSignalBlocker quiet(lSeries);
            item->setText(l.Graph->name());
            item->setData(Qt::UserRole + 1, l.Graph->name());
        }
    }
    for (size_t i = 0; i < lines_.size(); ++i) {
        const Line& l = lines_[i];
        if (l.Visible && ranges[i].Has) {
            const int side = l.Right ? 1 : 0;
            bool& any = side ? anyRight : anyLeft;
            lo[side] = any ? std::min(lo[side], ranges[i].Lo) : ranges[i].Lo;
            hi[side] = any ? std::max(hi[side], ranges[i].Hi) : ranges[i].Hi;
            any = true;
        }
    }
    // Each Y axis fits the visible lines it carries.
    const auto fit = [](QCPAxis* axis, double a, double b) {
        const double pad = a == b ? std::max(1.0, std::fabs(a) * 0.1) : (b - a) * 0.05;
        axis->setRange(a - pad, b + pad);
    };
    if (Normalised())
        Plot->yAxis->setRange(-5, 105);
    else if (anyLeft)
        fit(Plot->yAxis, lo[0], hi[0]);
    Plot->yAxis2->setVisible(anyRight);
    if (anyRight) fit(Plot->yAxis2, lo[1], hi[1]);
    // Each axis says its units (in the picture too).
    std::vector<QString> units[2];
    for (const Line& l : lines_)
        if (l.Visible && l.Series.Reg)
            units[l.Right ? 1 : 0].push_back(QString::fromStdString(l.Series.Reg->Units));
    Plot->yAxis->setLabel(Normalised() ? QStringLiteral("% от размаха за показанное время")
                                       : AxisUnits(units[0]));
    Plot->yAxis2->setLabel(AxisUnits(units[1]));
    empty_->setVisible(!anySamples);
    const QString emptyText =
        anySamples ? QString() : QStringLiteral("Отметьте параметры и включите опрос");
    // A saved or exported file's name stays until something else is to be said.
    if (store_.Dropped() > 0)
        lNote->setText(QStringLiteral("Старые значения отброшены: %1").arg(store_.Dropped()));
    else if (!emptyText.isEmpty() || lNote->text() == empty_->text())
        lNote->setText(emptyText);
    Plot->replot(QCustomPlot::rpQueuedReplot);
}

QString TChartWindow::ValueAt(const Line& l, int64_t t) const {
    const auto s = store_.At(l.Series.Row, t);
    if (!s) return QStringLiteral("—");
    if (s->What != TSampleStore::Value) return QString::fromStdString(store_.ErrorText(*s));
    // As the table shows it: its decimals, a state in words.
    if (l.Series.Reg)
        return QString::fromStdString(
            l.Series.Reg->DisplayTextOf(SampleValue(*l.Series.Reg, s->Y)));
    return QString::number(s->Y, 'g', 7);
}

QString TChartWindow::CrosshairText(int64_t t) const {
    QString text = QString::fromStdString(TimeText(t));
    for (const Line& l : lines_)
        if (l.Visible)
            text += QLatin1Char('\n') + l.Series.Label + QStringLiteral(": ") + ValueAt(l, t);
    return text;
}

void TChartWindow::ShowCursorValues(int64_t t) {
    // Beside each line's name, where the legend cannot hide it.
    lCursor->setText(QString::fromStdString(TimeText(t)));
    const QSignalBlocker quiet(lSeries);
    for (int i = 0; i < lSeries->count(); ++i) {
        QListWidgetItem* item = lSeries->item(i);
        const Line* l = Find(item->data(Qt::UserRole).toInt());
        const QString name = item->data(Qt::UserRole + 1).toString();
        item->setText(l && l->Visible ? name + QStringLiteral(": ") + ValueAt(*l, t) : name);
    }
}

void TChartWindow::MouseMoved(QMouseEvent* event) {
    const double x = Plot->xAxis->pixelToCoord(event->position().x());
    cursor_->point1->setCoords(x, 0);
    cursor_->point2->setCoords(x, 1);
    cursor_->setVisible(true);
    ShowCursorValues(static_cast<int64_t>(std::llround(x * 1000)));
    Plot->replot(QCustomPlot::rpQueuedReplot);
}

bool TChartWindow::ExportData(const QString& path, QString& error) const {
    const auto [t0, t1] = TimeRange();
    // Every visible line's samples in the time shown, in time order.
    struct Row {
        int64_t t;
        const Line* line;
        TSampleStore::Sample s;
    };
    std::vector<Row> rows;
    for (const Line& l : lines_) {
        if (!l.Visible) continue;
        for (const auto& s : store_.Series(l.Series.Row))
            if (s.TimeMs >= t0 && s.TimeMs < t1) rows.push_back({s.TimeMs, &l, s});
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.t < b.t; });
    std::string text = RecordingHeader();
    for (const Row& r : rows) {
        const TReg* reg = r.line->Series.Reg;
        if (!reg) continue;
        // The same sample the recording wrote for that read.
        TValue value;
        std::string error;
        if (r.s.What == TSampleStore::Value) {
            value = SampleValue(*reg, r.s.Y);
        } else {
            error =
                r.s.Code != 0 ? std::string(1, static_cast<char>(r.s.Code)) : store_.ErrorText(r.s);
        }
        text += RecordingLine(PollSampleOf(*reg, r.t, value, error, ErrorTexts));
    }
    std::string why;
    if (!WriteFileBytes(path.toStdString(), text, why)) {
        error = QStringLiteral("Не удалось записать файл %1: %2")
                    .arg(NativeName(path), QString::fromStdString(why));
        return false;
    }
    return true;
}

bool TChartWindow::SaveImage(const QString& path, QString* error) {
    // For a report: a title (what, where, when), the legend under the plot, the axes'
    // units; no crosshair, which only follows the mouse.
    const bool cursorShown = cursor_->visible();
    cursor_->setVisible(false);
    const auto [t0, t1] = TimeRange();
    const QString subject = Subject ? Subject() : QString();
    auto* title =
        new QCPTextElement(Plot,
                           (subject.isEmpty() ? QString() : subject + QStringLiteral(", ")) +
                               QString::fromStdString(TimeText(t0)) + QStringLiteral(" — ") +
                               QString::fromStdString(TimeText(t1)),
                           font());
    Plot->plotLayout()->insertRow(0);
    Plot->plotLayout()->addElement(0, 0, title);
    Plot->legend->setVisible(true);
    Plot->plotLayout()->addElement(2, 0, Plot->legend);
    Plot->plotLayout()->setRowStretchFactor(2, 0.001);
    Plot->plotLayout()->setRowStretchFactor(0, 0.001);
    // Encoded here and written by our own file layer, so a failure reads in our words.
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    // Laid out for its own size, not the window's: a small window or a large display
    // scale must not cut the title and the legend.
    const int width = std::max(kImageWidth, Plot->width());
    const int height = std::max(kImageHeight, Plot->height());
    const bool encoded = Plot->toPixmap(width, height, 1.0).save(&buffer, "PNG");
    // What of the legend the picture holds whole (the layout is still the picture's).
    imageLegend_.clear();
    const QRect picture(0, 0, width, height);
    for (int i = 0; i < Plot->legend->itemCount(); ++i) {
        QCPAbstractLegendItem* element = Plot->legend->item(i);
        auto* item = qobject_cast<QCPPlottableLegendItem*>(element);
        const QSize needed = static_cast<const QCPLayoutElement*>(element)->minimumOuterSizeHint();
        if (item && picture.contains(element->outerRect()) &&
            element->outerRect().width() >= needed.width())
            imageLegend_ << item->plottable()->name();
    }
    std::string why = encoded ? std::string() : std::string("не удалось построить изображение");
    const bool saved = encoded && WriteFileBytes(path.toStdString(),
                                                 std::string(png.constData(), png.size()), why);
    if (!saved && error)
        *error = QStringLiteral("Не удалось сохранить изображение %1: %2")
                     .arg(NativeName(path), QString::fromStdString(why));
    Plot->plotLayout()->take(Plot->legend);
    Plot->legend->setVisible(false);
    Plot->plotLayout()->remove(title);
    Plot->plotLayout()->simplify();
    cursor_->setVisible(cursorShown);
    Plot->replot(QCustomPlot::rpQueuedReplot);
    return saved;
}

void TChartWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace tunavox
