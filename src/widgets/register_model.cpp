#include "widgets/register_model.h"

#include <QFont>

#include "device/table_text.h"

namespace tunavox {

QColor FromDescriptionColor(uint32_t c) {
    if (c == kNoColor) return {};
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

TRegisterModel::TRegisterModel(QObject* parent) : QAbstractTableModel(parent) {}

void TRegisterModel::SetSource(TRegList* regs, const TNameValueList* errorTexts) {
    beginResetModel();
    regs_ = regs;
    errorTexts_ = errorTexts;
    const int n = regs ? regs->Count() : 0;
    hasCheck_.assign(static_cast<size_t>(n), false);
    checks_.assign(static_cast<size_t>(n), Qt::Unchecked);
    checkableCount_ = 0;
    // Rows are initialised at once: it is cheap, and every count stays exact.
    for (int row = 0; row < n; ++row)
        InitNode(row);
    endResetModel();
}

void TRegisterModel::InitNode(int row) {
    const TReg* reg = regs_->Items(row);
    if (reg->RegType == rtHeader || reg->Io == ioW) return;
    hasCheck_[static_cast<size_t>(row)] = true;
    ++checkableCount_;
    if (reg->Poll) checks_[static_cast<size_t>(row)] = Qt::Checked;
}

TReg* TRegisterModel::Reg(int row) const {
    if (!regs_ || row < 0 || row >= regs_->Count()) return nullptr;
    return regs_->Items(row);
}

int TRegisterModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || !regs_ ? 0 : static_cast<int>(checks_.size());
}

int TRegisterModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 4;
}

QVariant TRegisterModel::data(const QModelIndex& index, int role) const {
    const TReg* reg = Reg(index.row());
    if (!reg) return {};
    const bool heading = reg->RegType == rtHeader;
    const int col = index.column();
    // Once the link is back, a value that is only written (W, WOR) has nothing to wait for.
    const bool stale = !heading && link_ && link_->IsStale(index.row()) &&
                       (link_->Down() || reg->Io == ioR || reg->Io == ioRW);
    const QString rowError = heading || !link_ ? QString() : Q(link_->RowError(index.row()));
    const QString factory =
        !heading && reg->DiffersFromFactory() ? Q(reg->DisplayTextOf(reg->DefValue)) : QString();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        switch (col) {
        case ColCode:
            return Q(CodeText(*reg));
        case ColName:
            return Q(NameText(*reg));
        case ColValue:
            return Q(ValueText(*reg, errorTexts_));
        default:
            return QString();
        }
    case Qt::CheckStateRole:
        if (col == ColCheck && pollColumn_ && hasCheck_[static_cast<size_t>(index.row())])
            return static_cast<int>(checks_[static_cast<size_t>(index.row())]);
        return {};
    case Qt::ToolTipRole: {
        // The description's hint first, then what the link says about the row.
        QStringList lines;
        if (!reg->Desc.empty()) lines << Q(reg->Desc);
        if (!rowError.isEmpty()) lines << QStringLiteral("Ошибка: ") + rowError;
        if (stale) lines << Q(link_->LastGoodText(index.row()));
        if (!factory.isEmpty()) lines << QStringLiteral("Заводское значение: ") + factory;
        return lines.isEmpty() ? QVariant() : QVariant(lines.join(QLatin1Char('\n')));
    }
    case Qt::AccessibleDescriptionRole: {
        if (col != ColValue || heading) return {};
        QStringList parts;
        if (stale)
            parts << QStringLiteral("Значение устарело. ") + Q(link_->LastGoodText(index.row()));
        if (!rowError.isEmpty()) parts << QStringLiteral("Ошибка: ") + rowError;
        if (!factory.isEmpty()) parts << QStringLiteral("Заводское значение: ") + factory;
        return parts.isEmpty() ? QVariant() : QVariant(parts.join(QStringLiteral(". ")));
    }
    case Qt::TextAlignmentRole:
        return static_cast<int>((col == ColName ? Qt::AlignLeft : Qt::AlignHCenter) |
                                Qt::AlignVCenter);
    case Qt::ForegroundRole: {
        if (heading) return {};
        if (col == ColValue && ShowsDeviceError(*reg)) return QColor(255, 0, 0);
        if (col == ColValue && stale) return QColor(0x90, 0x90, 0x90);
        const QColor own = FromDescriptionColor(reg->FontColor);
        return own.isValid() ? own : textColor_;
    }
    case Qt::BackgroundRole: {
        const QColor bg = heading ? QColor() : FromDescriptionColor(reg->BgColor);
        return bg.isValid() ? QVariant(bg) : QVariant();
    }
    case Qt::FontRole: {
        if (heading) return {};
        QFont font;
        bool styled = false;
        if (col == ColName && reg->Io == ioR) font.setItalic(styled = true);
        if (col == ColValue && reg->IsModified()) font.setBold(styled = true);
        return styled ? QVariant(font) : QVariant();
    }
    case HeadingRole:
        return heading;
    case HeadingTextRole:
        return heading ? QVariant(Q(reg->Name)) : QVariant();
    case DeviceErrorRole:
        return col == ColValue && !heading && ShowsDeviceError(*reg);
    case StaleRole:
        return col == ColValue && stale;
    case RowErrorRole:
        return col == ColValue ? QVariant(rowError) : QVariant();
    case FactoryRole:
        return col == ColValue ? QVariant(factory) : QVariant();
    default:
        return {};
    }
}

bool TRegisterModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || index.column() != ColCheck || !HasCheckBox(index.row()))
        return false;
    SetCheckState(index.row(), static_cast<Qt::CheckState>(value.toInt()), true);
    return true;
}

Qt::ItemFlags TRegisterModel::flags(const QModelIndex& index) const {
    const TReg* reg = Reg(index.row());
    if (!reg) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == ColCheck && HasCheckBox(index.row())) f |= Qt::ItemIsUserCheckable;
    // Only the value of a register that is not read only may be edited.
    if (index.column() == ColValue && reg->RegType != rtHeader && reg->Io != ioR)
        f |= Qt::ItemIsEditable;
    return f;
}

QVariant TRegisterModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    static const char* const kCaptions[] = {"", "Код", "Параметр", "Значение"};
    if (section < 0 || section > 3) return {};
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromUtf8(kCaptions[section]);
    case Qt::CheckStateRole:
        return section == ColCheck && pollColumn_ ? QVariant(static_cast<int>(headerState_))
                                                  : QVariant();
    case Qt::AccessibleTextRole:
        // The header check box is painted; screen readers get its meaning here.
        if (section == ColCheck && !pollColumn_) return QString();
        if (section == ColCheck)
            return headerState_ == Qt::Checked ? QStringLiteral("Опрос: отмечены все")
                   : headerState_ == Qt::Unchecked ? QStringLiteral("Опрос: не отмечено ни одного")
                                                   : QStringLiteral("Опрос: отмечены некоторые");
        return QString::fromUtf8(kCaptions[section]);
    case Qt::TextAlignmentRole:
        return static_cast<int>((section == ColName ? Qt::AlignLeft : Qt::AlignHCenter) |
                                Qt::AlignVCenter);
    default:
        return {};
    }
}

bool TRegisterModel::HasCheckBox(int row) const {
    return pollColumn_ && row >= 0 && static_cast<size_t>(row) < hasCheck_.size() &&
           hasCheck_[static_cast<size_t>(row)];
}

Qt::CheckState TRegisterModel::CheckState(int row) const {
    return HasCheckBox(row) ? checks_[static_cast<size_t>(row)] : Qt::Unchecked;
}

void TRegisterModel::SetCheckState(int row, Qt::CheckState state, bool notify) {
    if (!HasCheckBox(row)) return;
    checks_[static_cast<size_t>(row)] = state;
    const QModelIndex i = index(row, ColCheck);
    emit dataChanged(i, i, {Qt::CheckStateRole});
    if (notify) emit RowChecked(row, state);
}

int TRegisterModel::CheckableCount() {
    if (checkableCount_ == 0)
        for (size_t i = 0; i < hasCheck_.size(); ++i)
            checkableCount_ += hasCheck_[i] ? 1 : 0;
    return checkableCount_;
}

int TRegisterModel::CheckedCount() const {
    int n = 0;
    for (size_t i = 0; i < checks_.size(); ++i)
        if (hasCheck_[i] && checks_[i] == Qt::Checked) ++n;
    return n;
}

int TRegisterModel::NextCheckedRow(int row) const {
    const int n = static_cast<int>(checks_.size());
    for (int r = row + 1; r < n; ++r)
        if (HasCheckBox(r) && checks_[static_cast<size_t>(r)] == Qt::Checked) return r;
    for (int r = 0; r < n && r <= row; ++r)
        if (HasCheckBox(r) && checks_[static_cast<size_t>(r)] == Qt::Checked) return r;
    return -1;
}

void TRegisterModel::SetHeaderState(Qt::CheckState state) {
    headerState_ = state;
    emit headerDataChanged(Qt::Horizontal, ColCheck, ColCheck);
}

void TRegisterModel::RefreshRow(int row) {
    if (row < 0 || row >= rowCount()) return;
    emit dataChanged(index(row, 0), index(row, 3));
}

void TRegisterModel::RefreshAll() {
    if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, 3));
}

void TRegisterModel::SetTextColor(const QColor& color) {
    textColor_ = color;
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, 3), {Qt::ForegroundRole});
}

} // namespace tunavox
