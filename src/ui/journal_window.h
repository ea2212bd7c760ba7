#pragma once
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <vector>

#include "journal/journal.h"

namespace tunavox {

// "Журнал записей": every write the program made to a device, newest first, filtered
// by device and by days, and exported to HTML as a service report.
class TJournalWindow : public QDialog {
    Q_OBJECT
public:
    explicit TJournalWindow(const QString& folder, QWidget* parent = nullptr);

    // Reads the journal's files again and shows what the filters let through.
    void Reload();
    // Writes the rows shown as an HTML page; false and the reason on failure.
    bool ExportHtml(const QString& path, QString& error) const;

    QComboBox* cbDevice; // "Все устройства" first
    QDateEdit* eSince;
    QDateEdit* eUntil;
    QTableWidget* Table;
    QLabel* lCount;
    QPushButton* bExport;
    const std::vector<TJournalEntry>& Shown() const { return shown_; }

private:
    void Fill();
    void ExportClick();

    QString folder_;
    std::vector<TJournalEntry> all_;
    std::vector<TJournalEntry> shown_;
};

} // namespace tunavox
