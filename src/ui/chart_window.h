#pragma once
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "device/reg.h"
#include "trend/chart_palette.h"
#include "trend/sample_store.h"

class QCustomPlot;
class QCPGraph;
class QCPItemStraightLine;
class QCPItemText;

namespace tunavox {

// One line of the chart: a ticked numeric row.
struct TChartSeries {
    int Row = -1;
    QString Code;              // "0x21"
    QString Label;             // code, name and units
    const TReg* Reg = nullptr; // its register: values in its own words
};

// "График": the polled rows against wall-clock time, one line each, drawn from the
// sample store decimated to what the pixels can show (least and largest value per
// pixel column). A failed read is a gap; a device refusal is marked. Wheel zooms
// the time axis, dragging pans it, "Следить" keeps the newest samples in view, the
// crosshair shows the time and every visible line's value under the cursor.
class TChartWindow : public QWidget {
    Q_OBJECT
public:
    TChartWindow(const TSampleStore& store, QWidget* parent = nullptr);

    // The rows to plot (asked again at every redraw, so ticking joins at once).
    std::function<std::vector<TChartSeries>()> SeriesSource;
    // The description's device error texts, for the data export.
    const TNameValueList* ErrorTexts = nullptr;
    // The device and port for a saved picture's title.
    std::function<QString()> Subject;

    // Redraws soon (coalesced): new samples, other rows.
    void Changed();
    // Redraws now.
    void Redraw();

    // Hides or shows a line, and moves it to the right-hand axis or back.
    void SetVisible(int row, bool visible);
    void SetRightAxis(int row, bool right);
    bool IsVisible(int row) const;
    // The time range shown, ms since the epoch.
    void SetTimeRange(int64_t t0, int64_t t1);
    std::pair<int64_t, int64_t> TimeRange() const;
    // The crosshair's text at a time.
    QString CrosshairText(int64_t t) const;

    // The samples shown, in the recording format; false and the reason on failure.
    bool ExportData(const QString& path, QString& error) const;
    // The picture for a report: title, legend and units, no crosshair.
    // False, with the reason in error when asked, when it cannot be written.
    bool SaveImage(const QString& path, QString* error = nullptr);
    // The smallest picture SaveImage writes, at any display scale.
    static constexpr int kImageWidth = 1200;
    static constexpr int kImageHeight = 800;
    // Escape closes the window, as it closes the program's dialogs.
    void keyPressEvent(QKeyEvent* event) override;
    // The legend entries the last saved picture holds whole.
    const QStringList& ImageLegend() const { return imageLegend_; }
    // Whether each line is drawn in its own range (0..100 %).
    bool Normalised() const { return chNormalise->isChecked(); }

    QCustomPlot* Plot;
    QCheckBox* chFollow;
    QCheckBox* chNormalise; // "Каждая линия в своём масштабе"
    QListWidget* lSeries;   // one check box per line: shown or hidden
    QPushButton* bSaveImage;
    QPushButton* bExport;
    QLabel* lNote;   // says when the oldest samples had to go
    QLabel* lCursor; // the crosshair's time; the values stand beside the names in lSeries

private:
    struct Line {
        TChartSeries Series;
        QCPGraph* Graph = nullptr;
        QCPGraph* Errors = nullptr;
        bool Visible = true;
        bool Right = false;
    };
    Line* Find(int row);
    const Line* Find(int row) const;
    void SyncSeries();
    void MouseMoved(QMouseEvent* event);
    QString ValueAt(const Line& l, int64_t t) const;
    void ShowCursorValues(int64_t t);

    const TSampleStore& store_;
    std::vector<Line> lines_;
    QTimer redraw_;
    QCPItemStraightLine* cursor_ = nullptr;
    QCPItemText* empty_ = nullptr;                  // what to do while nothing is drawn
    std::map<int, std::pair<bool, bool>> settings_; // row: shown, on the right axis
    std::set<int> axisChosen_; // rows whose axis the engineer chose; the rest are placed by range
    bool rebuild_ = false;
    int64_t spanMs_ = 60000; // the time span while following
    bool updatingRange_ = false;
    TLineColours colours_;
    QStringList imageLegend_;
};

} // namespace tunavox
