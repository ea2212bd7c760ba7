#pragma once
// Helpers for the window tests: a folder of description files, modal dialogs
// answered from a timer, and a started main window.
#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/main_window.h"
#include "test_support.h"

namespace tunavox::test {

// Start options for a window on the description files of dir, with no serial ports.
TMainOptions OptionsFor(const TempDir& dir);

// Copies the named sample descriptions (from the build's bin folder) into dir.
void CopySamples(const TempDir& dir, const QStringList& names);

// Runs action on the next modal widget that opens (within ms), from the event loop;
// with a class name, on the next modal widget of that class.
void OnNextModal(const std::function<void(QWidget*)>& action, int ms = 5000,
                 const char* className = nullptr);

// Answers the next message box with OK and returns its text through *text.
void CaptureMessageBox(QString* text, QString* caption = nullptr);

// Forgets the stored settings (each test starts from an empty store).
void ClearSettings();

} // namespace tunavox::test
