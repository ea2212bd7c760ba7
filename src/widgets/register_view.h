#pragma once
#include <QHeaderView>
#include <QPixmap>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTableView>
#include <functional>

#include "widgets/register_model.h"

namespace tunavox {

// The header of the register table: section 0 carries a three-state check box
// whose state comes from the model's header data.
class TCheckHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit TCheckHeader(QWidget* parent = nullptr);
    // Where the check box of section 0 is drawn, in header coordinates.
    QRect CheckBoxRect() const;

signals:
    // The check box of section 0 was clicked (single or double click).
    void CheckBoxClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// An in-place editor over one cell, supplied by the application: it owns its input
// control and decides itself whether the typed text is taken.
class IEditLink {
public:
    virtual ~IEditLink() = default;
    // Creates the (hidden) control for row and column as a child of parent.
    virtual QWidget* Prepare(QWidget* parent, int row, int column) = 0;
    // Takes the control's text; false keeps the editor open.
    virtual bool Accept() = 0;
    // The control's key handling, before the control sees the key; true consumes it.
    virtual bool KeyDown(QKeyEvent* event) = 0;
};

// Paints register rows by the table's colour rules and heading rows across the
// whole row: grid-line colour behind, the caption centred in the background colour.
class TRegisterDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit TRegisterDelegate(QTableView* view);
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    // The polling check box of a cell, in the light or the dark style.
    static void PaintTick(QPainter* painter, const QRect& cell, Qt::CheckState state, bool dark);
    // The mark of a row whose last exchange failed, in the cell's top right corner.
    static void PaintErrorCorner(QPainter* painter, const QRect& cell);
    // The mark of a setting that is not its factory value, along the cell's left side.
    static void PaintFactoryCue(QPainter* painter, const QRect& cell);
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

protected:
    bool eventFilter(QObject* object, QEvent* event) override;

private:
    QTableView* view_;
};

// The register table: four columns, grid lines in the description's colour, a
// background picture (fixed or scrolling), per-row hints with their own display time.
class TRegisterView : public QTableView {
    Q_OBJECT
public:
    explicit TRegisterView(QWidget* parent = nullptr);

    TRegisterModel* Model() const { return model_; }
    TCheckHeader* CheckHeader() const { return header_; }

    void SetGridColor(const QColor& color);
    QColor GridColor() const { return gridColor_; }
    // The four selection colours take one value.
    void SetSelectionColor(const QColor& color);
    QColor SelectionColor() const;
    void SetSelectedTextColor(const QColor& color) {
        selectedTextColor_ = color;
        viewport()->update();
    }
    QColor SelectedTextColor() const { return selectedTextColor_; }
    // Switches background painting on; it is never switched off again.
    void SetBackground(const QPixmap& picture, bool fixed);
    bool HasBackground() const { return !background_.isNull(); }
    bool BackgroundFixed() const { return backgroundFixed_; }
    // Ticks are drawn light while polling is off and dark while it runs.
    void SetDarkTicks(bool dark) {
        darkTicks_ = dark;
        viewport()->update();
    }
    bool DarkTicks() const { return darkTicks_; }
    void SetHintTime(int ms) { hintTime_ = ms; }
    int HintTime() const { return hintTime_; }
    QColor BackgroundColor() const;

    // Marks a key that the editor passes on to the table (its native virtual key).
    static constexpr quint32 kForwardedKey = 0x7E57;

    // Creates the editor of a cell (the application's vstListCreateEditor).
    std::function<IEditLink*()> CreateEditLink;
    // The editor that is open, if any.
    IEditLink* OpenLink() const;
    QWidget* OpenEditor() const { return openEditor_; }
    // Ends editing by accepting; false (editor still open) when the text is not taken.
    bool AcceptEditing();
    void CancelEditing();
    // Starts the editor on a cell when the cell may be edited.
    void EditCell(int row, int column);
    // True while a type-ahead search moves the selection.
    bool Searching() const { return searching_; }

signals:
    // A row's menu is asked for: a right click (on the row or its open editor), the Menu
    // key or Shift+F10; global is where it opens.
    void RowMenuRequested(int row, const QPoint& global);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyboardSearch(const QString& search) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    friend class TRegisterDelegate;
    // The menu of the current row, under its value cell (asked for from the keyboard).
    void RequestCurrentRowMenu();
    static bool IsMenuKey(const QKeyEvent* event);
    QPointer<QWidget> openEditor_;
    IEditLink* openLink_ = nullptr;
    bool searching_ = false;
    bool accepting_ = false;

private:
    TRegisterModel* model_;
    TCheckHeader* header_;
    QColor gridColor_{0xA0, 0xA0, 0xA0};
    QColor selectedTextColor_{Qt::black};
    QPixmap background_;
    bool backgroundFixed_ = false;
    int hintTime_ = 2500;
    bool darkTicks_ = false;
};

} // namespace tunavox
