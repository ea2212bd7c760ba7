#pragma once
#include <QAbstractTableModel>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "journal/journal.h"

namespace tunavox {

// The journal's entries that pass the filters, newest first; cells made when shown, so a
// journal of any size costs the table nothing up front.
class TJournalModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // All entries, oldest first (as read), and the ones shown.
    void SetEntries(std::vector<TJournalEntry> all);
    void Filter(const std::string& since, const std::string& until, const std::string& device);
    const std::vector<TJournalEntry>& All() const { return all_; }
    const TJournalEntry& Shown(int row) const { return all_[shown_[static_cast<size_t>(row)]]; }

private:
    std::vector<TJournalEntry> all_;
    std::vector<size_t> shown_;
};

// "Журнал записей": every write the program made to a device, newest first, filtered
// by device and by days, and exported to HTML as a service report. The journal is read
// off the window's thread: the window opens at once, whatever the journal's size.
class TJournalWindow : public QDialog {
    Q_OBJECT
public:
    explicit TJournalWindow(const QString& folder, QWidget* parent = nullptr);
    ~TJournalWindow() override;

    // Reads the journal's files again (in the background) and shows what the filters let
    // through when they are read.
    void Reload();
    // Whether a read is still running.
    bool Reading() const { return reading_; }
    // Writes the rows shown as an HTML page; false and the reason on failure.
    bool ExportHtml(const QString& path, QString& error) const;

    QComboBox* cbDevice; // "Все устройства" first
    QDateEdit* eSince;
    QDateEdit* eUntil;
    QTableView* Table;
    QLabel* lCount;
    QPushButton* bExport;
    TJournalModel* Model() const { return model_; }
    // The entries shown, newest first.
    std::vector<TJournalEntry> Shown() const;

private:
    void Fill();
    void Loaded(std::vector<TJournalEntry> entries, const std::string& error);
    void StopReading();
    void ExportClick();

    QString folder_;
    TJournalModel* model_;
    std::thread reader_;
    std::shared_ptr<std::atomic<bool>> stop_;
    bool reading_ = false;
    int generation_ = 0; // of the read in progress
    std::string readError_;
};

} // namespace tunavox
