#pragma once
#include <QString>
#include <QStringList>
#include <optional>

namespace tunavox {

// What the program was started with beyond its design.
struct TMainOptions {
    QString ExtraPort;       // --port: added to the list when missing, and selected
    QString DescriptionsDir; // --descriptions: scanned instead of the program's folder
    bool Demo = false;       // --demo: the simulated device on a pseudo-terminal
    QString Device; // --device: the description to load, by file name or caption, without asking
    std::optional<QStringList> Ports; // the system's port list, when given (tests)
    QString JournalDir; // --journal: the journal of writes' folder instead of the default
};

// The object with its name set (tests and accessibility find controls by it).
template <typename T> T* Named(T* object, const char* name) {
    object->setObjectName(QString::fromLatin1(name));
    return object;
}

} // namespace tunavox
