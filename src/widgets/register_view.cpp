#include "widgets/register_view.h"

#include "widgets/register_accessible.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QFocusEvent>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QScrollBar>
#include <QToolTip>
#include <algorithm>

namespace tunavox {
namespace {

// Supplies the grid-line colour, which a table view takes from its style.
class GridStyle : public QProxyStyle {
public:
    QColor color{0xA0, 0xA0, 0xA0};
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_Table_GridLineColor) return static_cast<int>(color.rgba());
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

TCheckHeader::TCheckHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);
    setHighlightSections(false);
}

QRect TCheckHeader::CheckBoxRect() const {
    const int size = 13;
    const int x = sectionViewportPosition(0) + (sectionSize(0) - size) / 2;
    return QRect(x, (height() - size) / 2, size, size);
}

void TCheckHeader::paintEvent(QPaintEvent* event) {
    QHeaderView::paintEvent(event);
    if (!model() || count() == 0 || isSectionHidden(0)) return;
    const auto state = static_cast<Qt::CheckState>(
        model()->headerData(0, Qt::Horizontal, Qt::CheckStateRole).toInt());
    QStyleOptionButton box;
    box.initFrom(this);
    box.rect = CheckBoxRect();
    box.state = QStyle::State_Enabled | (state == Qt::Checked     ? QStyle::State_On
                                         : state == Qt::Unchecked ? QStyle::State_Off
                                                                  : QStyle::State_NoChange);
    QPainter painter(viewport());
    style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, &painter, this);
}

void TCheckHeader::mousePressEvent(QMouseEvent* event) {
    if (logicalIndexAt(event->position().toPoint()) == 0 &&
        CheckBoxRect().contains(event->position().toPoint())) {
        emit CheckBoxClicked();
        return;
    }
    QHeaderView::mousePressEvent(event);
}

void TCheckHeader::mouseDoubleClickEvent(QMouseEvent* event) {
    // A double click counts as a click of its own.
    mousePressEvent(event);
}

TRegisterDelegate::TRegisterDelegate(QTableView* view) : QStyledItemDelegate(view), view_(view) {}

void TRegisterDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    auto* table = static_cast<TRegisterView*>(view_);
    if (index.data(TRegisterModel::HeadingRole).toBool()) {
        // Each cell of a heading row paints its part of one band across the row.
        const QAbstractItemModel* m = index.model();
        const int first = view_->columnViewportPosition(0);
        const int lastCol = m->columnCount() - 1;
        const int right = view_->columnViewportPosition(lastCol) + view_->columnWidth(lastCol);
        const QRect band(first, option.rect.top(), right - first, option.rect.height());
        painter->save();
        painter->setClipRect(option.rect.adjusted(0, 0, 1, 1));
        painter->fillRect(option.rect.adjusted(0, 0, 1, 1), table->GridColor());
        painter->setPen(table->BackgroundColor());
        painter->setFont(option.font);
        painter->drawText(band, Qt::AlignCenter | Qt::TextSingleLine,
                          index.data(TRegisterModel::HeadingTextRole).toString());
        painter->restore();
        return;
    }
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    // Selected rows take the description's selected-text colour, except a device error
    // and a stale value.
    QColor text = index.data(Qt::ForegroundRole).value<QColor>();
    if ((opt.state & QStyle::State_Selected) &&
        !index.data(TRegisterModel::DeviceErrorRole).toBool() &&
        !index.data(TRegisterModel::StaleRole).toBool())
        text = table->SelectedTextColor();
    opt.palette.setColor(QPalette::Text, text);
    opt.palette.setColor(QPalette::HighlightedText, text);
    const bool box = index.column() == TRegisterModel::ColCheck &&
                     (opt.features & QStyleOptionViewItem::HasCheckIndicator);
    if (box) opt.features &= ~QStyleOptionViewItem::HasCheckIndicator; // drawn below
    if (const QVariant bg = index.data(Qt::BackgroundRole);
        bg.isValid() && !(opt.state & QStyle::State_Selected))
        painter->fillRect(option.rect, bg.value<QColor>());
    if (!box) {
        QStyledItemDelegate::paint(painter, opt, index);
        if (!index.data(TRegisterModel::RowErrorRole).toString().isEmpty())
            PaintErrorCorner(painter, option.rect);
        if (!index.data(TRegisterModel::FactoryRole).toString().isEmpty())
            PaintFactoryCue(painter, option.rect);
        return;
    }
    // Without the style's own indicator (paint() would put it back).
    QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
    PaintTick(painter, option.rect, opt.checkState, table->DarkTicks());
}

void TRegisterDelegate::PaintErrorCorner(QPainter* painter, const QRect& cell) {
    // A red corner edged in white: seen on any of the description's colours.
    const int size = std::min(9, cell.height() / 2);
    const QPointF corner(cell.right() + 1, cell.top());
    const QPointF points[] = {corner, corner - QPointF(size, 0), corner + QPointF(0, size)};
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(QPen(Qt::white, 1));
    painter->setBrush(QColor(0xD0, 0x10, 0x10));
    painter->drawPolygon(points, 3);
    painter->restore();
}

void TRegisterDelegate::PaintFactoryCue(QPainter* painter, const QRect& cell) {
    // A blue bar edged in white along the cell's left side: not the factory value.
    const QRect bar(cell.left() + 1, cell.top() + 2, 4, cell.height() - 4);
    painter->save();
    painter->setPen(QPen(Qt::white, 1));
    painter->setBrush(QColor(0x10, 0x60, 0xD0));
    painter->drawRect(bar);
    painter->restore();
}

void TRegisterDelegate::PaintTick(QPainter* painter, const QRect& cell, Qt::CheckState state,
                                  bool dark) {
    // Light: a black tick in a white box. Dark (while polling): a white tick on a navy
    // fill, an empty box stays light, so ticked and unticked rows differ at a glance.
    const int size = 13;
    const QRect r(cell.center().x() - size / 2, cell.center().y() - size / 2, size, size);
    const bool on = state != Qt::Unchecked;
    const QColor navy(0x1C, 0x2A, 0x6E);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(QPen(dark ? navy : QColor(0x40, 0x40, 0x40), 1));
    painter->setBrush(dark && on ? navy : QColor(Qt::white));
    painter->drawRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5));
    const QColor mark = dark ? QColor(Qt::white) : QColor(Qt::black);
    if (state == Qt::Checked) {
        painter->setPen(QPen(mark, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const QPointF tick[] = {{r.left() + 3.0, r.top() + 6.5},
                                {r.left() + 5.5, r.top() + 9.5},
                                {r.left() + 10.0, r.top() + 3.5}};
        painter->drawPolyline(tick, 3);
    } else if (on) {
        painter->fillRect(r.adjusted(3, 3, -3, -3), mark);
    }
    painter->restore();
}

QWidget* TRegisterDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                         const QModelIndex& index) const {
    auto* table = static_cast<TRegisterView*>(view_);
    if (!table->CreateEditLink) return nullptr;
    IEditLink* link = table->CreateEditLink();
    QWidget* control = link->Prepare(parent, index.row(), index.column());
    // The link lives as long as its control.
    QObject::connect(control, &QObject::destroyed, [link] { delete link; });
    table->openEditor_ = control;
    table->openLink_ = link;
    return control;
}

void TRegisterDelegate::setEditorData(QWidget*, const QModelIndex&) const {
    // The editor took its text from the register when it was prepared.
}

void TRegisterDelegate::setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const {
    // The editor writes into the register itself when it accepts.
}

void TRegisterDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                             const QModelIndex& index) const {
    // The control reaches the right border of its column.
    QRect r = option.rect;
    r.setRight(view_->columnViewportPosition(index.column()) + view_->columnWidth(index.column()) -
               1);
    editor->setGeometry(r);
}

bool TRegisterDelegate::eventFilter(QObject* object, QEvent* event) {
    auto* table = static_cast<TRegisterView*>(view_);
    if (object == table->openEditor_ && table->openLink_) {
        // The row's menu, not the edit box's own, wherever the row is asked for it.
        if (event->type() == QEvent::ContextMenu) {
            emit table->RowMenuRequested(table->currentIndex().row(),
                                         static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        }
        if (event->type() == QEvent::KeyPress &&
            TRegisterView::IsMenuKey(static_cast<QKeyEvent*>(event))) {
            table->RequestCurrentRowMenu();
            return true;
        }
        if (event->type() == QEvent::KeyPress)
            return table->openLink_->KeyDown(static_cast<QKeyEvent*>(event));
        if (event->type() == QEvent::FocusOut) {
            // Leaving the editor any other way than Escape accepts; a text that is not
            // taken keeps it open.
            // A drop-down list or another window taking the focus is no leaving.
            const QWidget* now = QApplication::focusWidget();
            const QWidget* editor = table->openEditor_;
            if (now && now != editor && !editor->isAncestorOf(now) &&
                now->window() == table->window())
                table->AcceptEditing();
            return false;
        }
        return false;
    }
    return QStyledItemDelegate::eventFilter(object, event);
}

TRegisterView::TRegisterView(QWidget* parent) : QTableView(parent) {
    TAccessibleRegisterTable::Install();
    model_ = new TRegisterModel(this);
    setModel(model_);
    header_ = new TCheckHeader(this);
    setHorizontalHeader(header_);
    header_->setModel(model_);
    setItemDelegate(new TRegisterDelegate(this));
    auto* style = new GridStyle;
    style->setParent(this);
    setStyle(style);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(21);
    verticalHeader()->setMinimumSectionSize(21);
    header_->setFixedHeight(21);
    QFont headerFont(QStringLiteral("Tahoma"));
    headerFont.setPixelSize(11);
    header_->setFont(headerFont);
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    // Shift and Ctrl add rows to the selection (for copying); plain moves select one.
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setWordWrap(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    header_->setMinimumSectionSize(10);
    header_->resizeSection(0, 30);
    header_->resizeSection(1, 70);
    header_->resizeSection(2, 470);
    header_->resizeSection(3, 200);
    header_->setSectionResizeMode(0, QHeaderView::Fixed);
    header_->setSectionResizeMode(1, QHeaderView::Interactive);
    header_->setSectionResizeMode(2, QHeaderView::Stretch);
    header_->setSectionResizeMode(3, QHeaderView::Interactive);
    header_->setStretchLastSection(false);
    setObjectName(QStringLiteral("vstList"));
    SetSelectionColor(QColor(0xA0, 0xA0, 0xFF));
}

IEditLink* TRegisterView::OpenLink() const {
    return openEditor_ ? openLink_ : nullptr;
}

bool TRegisterView::AcceptEditing() {
    if (!openEditor_ || !openLink_) return true;
    if (accepting_) return false; // the editor hiding itself moves the focus: not a second accept
    accepting_ = true;
    const bool accepted = openLink_->Accept();
    accepting_ = false;
    if (!accepted) return false;
    QWidget* editor = openEditor_;
    openEditor_ = nullptr;
    openLink_ = nullptr;
    QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
    setFocus();
    return true;
}

void TRegisterView::CancelEditing() {
    if (!openEditor_) return;
    QWidget* editor = openEditor_;
    openEditor_ = nullptr;
    openLink_ = nullptr;
    QTableView::closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
    setFocus();
}

void TRegisterView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    if (editor == openEditor_) {
        openEditor_ = nullptr;
        openLink_ = nullptr;
    }
    QTableView::closeEditor(editor, hint);
}

void TRegisterView::EditCell(int row, int column) {
    const QModelIndex index = model_->index(row, column);
    if (!index.isValid() || !(model_->flags(index) & Qt::ItemIsEditable)) return;
    if (openEditor_ && currentIndex() == index) return;
    if (!AcceptEditing()) return;
    setCurrentIndex(index);
    edit(index);
    // The edit box comes with its whole text selected, so typing replaces the value;
    // the arrows, Home, End or a click then edit within it.
    if (auto* line = qobject_cast<QLineEdit*>(openEditor_.data()))
        line->selectAll();
    else if (auto* combo = qobject_cast<QComboBox*>(openEditor_.data()); combo && combo->lineEdit())
        combo->lineEdit()->selectAll();
}

void TRegisterView::keyPressEvent(QKeyEvent* event) {
    if (IsMenuKey(event)) {
        RequestCurrentRowMenu();
        event->accept();
        return;
    }
    if (openEditor_) {
        const int key = event->key();
        const bool forwarded = event->nativeVirtualKey() == kForwardedKey;
        const bool moves = key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp ||
                           key == Qt::Key_PageDown || key == Qt::Key_Home || key == Qt::Key_End;
        // Keys the editor left unused (modifiers, Shift+Down, ...) stop here; only a key
        // the editor passed on, or one typed at the table itself, may move the focus.
        const bool typedInEditor = openEditor_->isAncestorOf(QApplication::focusWidget()) ||
                                   QApplication::focusWidget() == openEditor_;
        if (!moves || (typedInEditor && !forwarded)) {
            event->accept();
            return;
        }
        // Moving away from an open editor accepts it first, and stays put when it fails.
        if (!AcceptEditing()) return;
    }
    QTableView::keyPressEvent(event);
}

bool TRegisterView::IsMenuKey(const QKeyEvent* event) {
    return event->key() == Qt::Key_Menu ||
           (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
}

void TRegisterView::RequestCurrentRowMenu() {
    const QModelIndex current = currentIndex();
    if (!current.isValid()) return;
    const QRect cell = visualRect(model_->index(current.row(), TRegisterModel::ColValue));
    emit RowMenuRequested(current.row(), viewport()->mapToGlobal(cell.bottomLeft()));
}

void TRegisterView::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() == QContextMenuEvent::Keyboard) {
        RequestCurrentRowMenu();
    } else {
        const int row = indexAt(event->pos()).row();
        if (row >= 0) emit RowMenuRequested(row, event->globalPos());
    }
    event->accept();
}

void TRegisterView::mousePressEvent(QMouseEvent* event) {
    if (openEditor_ && indexAt(event->position().toPoint()) != currentIndex() && !AcceptEditing())
        return;
    QTableView::mousePressEvent(event);
}

void TRegisterView::keyboardSearch(const QString& search) {
    searching_ = true;
    QTableView::keyboardSearch(search);
    searching_ = false;
}

void TRegisterView::SetGridColor(const QColor& color) {
    gridColor_ = color;
    static_cast<GridStyle*>(style())->color = color;
    viewport()->update();
}

void TRegisterView::SetSelectionColor(const QColor& color) {
    QPalette p = palette();
    p.setColor(QPalette::Active, QPalette::Highlight, color);
    p.setColor(QPalette::Inactive, QPalette::Highlight, color);
    setPalette(p);
}

QColor TRegisterView::SelectionColor() const {
    return palette().color(QPalette::Active, QPalette::Highlight);
}

QColor TRegisterView::BackgroundColor() const {
    return palette().color(QPalette::Base);
}

void TRegisterView::SetBackground(const QPixmap& picture, bool fixed) {
    background_ = picture;
    if (fixed) backgroundFixed_ = true;
    viewport()->update();
}

void TRegisterView::paintEvent(QPaintEvent* event) {
    if (!background_.isNull()) {
        QPainter p(viewport());
        const QPoint offset = backgroundFixed_
                                  ? QPoint()
                                  : QPoint(horizontalScrollBar()->value(),
                                           verticalScrollBar()->value() * rowHeight(0));
        p.drawTiledPixmap(viewport()->rect(), background_, offset);
    }
    QTableView::paintEvent(event);
}

bool TRegisterView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        const QString hint = index.isValid() ? index.data(Qt::ToolTipRole).toString() : QString();
        if (hint.isEmpty()) {
            QToolTip::hideText();
        } else {
            const QRect row(0, rowViewportPosition(index.row()), viewport()->width(),
                            rowHeight(index.row()));
            QToolTip::showText(help->globalPos(), hint, viewport(), row, hintTime_);
        }
        return true;
    }
    return QTableView::viewportEvent(event);
}

} // namespace tunavox
