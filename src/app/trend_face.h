#pragma once
#include <set>
#include <string>
#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <memory>
#include <vector>

#include "ui/chart_window.h"

namespace tunavox {

class TAction;
class TWideRecording;
struct TDevice;
class TfMain;

// The window's polled values over time: the recording to a file, the chart, the poll
// period and the exchange statistics. Its controls stand where the window puts them.
class TTrendFace : public QObject {
public:
    explicit TTrendFace(TfMain& window);

    // "Записывать опрос в файл…" and "График опрашиваемых параметров" in "Сервис".
    void AddMenuItems(QMenu* service);
    // "Период опроса" in the bottom strip (one group, so that a narrow window can give
    // it a line of its own) and the wide recording's item before the chart's.
    void AddPeriodBox(QWidget* bottom, QHBoxLayout* row, QMenu* service);
    // The recording's and the statistics' labels at the status bar's right end.
    void AddStatusLabels(QStatusBar* bar);

    QAction* chRecordPoll;  // "Записывать опрос в файл…"
    QAction* miChart;       // "График опрашиваемых параметров"
    QAction* chWideRecord;  // a new recording gets a line per pass, a column per row
    QSpinBox* sePollPeriod; // "Период опроса": 0 = as fast as the line allows
    QLabel* lStats;         // exchange statistics at the right of the status bar
    QLabel* lRecord;        // the poll recording: its file and lines, or why it stopped
    QTimer* StatsTimer;

    // Starts appending to path; false with the reason in why (or, without why, in the
    // status line).
    bool StartRecording(const QString& path, QString* why = nullptr);
    // Stops the recording; with why, says why and keeps it in sight.
    void StopRecording(const QString& why = {});
    // The poll period, ms (0: as fast as the line allows; 1..99 taken as 100).
    void SetPollPeriod(int ms);
    // The poll waits for its period before the next pass (the window's PollDelay runs).
    void SetWaitingForPass(bool waiting) { waitingForPass_ = waiting; }
    bool WaitingForPass() const { return waitingForPass_; }
    // The recording's indicator (also refreshed twice a second).
    void ShowRecording();
    void ShowStats();
    // The port is open: its USB adapter's latency timer read (for the statistics' tooltip)
    // and, when it holds answers back, said once in the status line.
    void PortOpened(const std::string& port);
    // Opens (or raises) the chart of the polled rows.
    void ShowChart();
    TChartWindow* Chart() const { return chart_; }
    // The ticked numeric rows, as the chart plots them.
    std::vector<TChartSeries> ChartSeries() const;
    // A finished poll read: a sample for the chart and, while recording, for the file.
    void PollRead(const TAction& action, int64_t timeMs, const TDevice& dev);
    // The rows or their ticks changed: the open chart follows.
    void Changed();

private:
    void chRecordPollToggled(bool on);
    void RecordSample(const TAction& action, int64_t timeMs, const TDevice& dev);
    void AddSample(const TAction& action, int64_t timeMs, const TDevice& dev);
    // The wide recording's columns: the ticked rows that polling reads; null for none.
    std::unique_ptr<TWideRecording> WideRecordingColumns() const;

    TfMain& w_;
    QPointer<TChartWindow> chart_;
    int usbLatencyMs_ = -1;
    std::set<std::string> latencyTold_; // ports whose adapter's timer was said
    bool waitingForPass_ = false;         // PollDelay holds the next pass back for its period
};

} // namespace tunavox
