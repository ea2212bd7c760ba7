// The main window: the register table's selection, keys and the value editor.
#include <QApplication>

#include "app/main_window.h"
#include "ui/value_editor.h"

namespace tunavox {

void TfMain::vstListChange(int row) {
    if (row < 0 || vstList->Searching()) return;
    dev_->LastChangedRow = row;
    // The editor opens after the selection change has been handled completely.
    QMetaObject::invokeMethod(
        this, [this, row] { EditValue(row); }, Qt::QueuedConnection);
}

void TfMain::EditValue(int row) {
    vstList->EditCell(row, TRegisterModel::ColValue);
}

void TfMain::vstListDblClick() {
    const int row = vstList->currentIndex().row();
    if (row >= 0) ReadNode(row, [this](TAction* a) { OnReadDone(a); });
}

bool TfMain::vstListKeyEnter() {
    const int row = vstList->currentIndex().row();
    TReg* reg = vstList->Model()->Reg(row);
    if (!reg) return false;
    if (reg->IsModified()) link_->WriteEdited(row);
    return true;
}

void TfMain::ToggleCurrentCheck() {
    TRegisterModel* m = vstList->Model();
    const int row = vstList->currentIndex().row();
    if (row < 0 || !m->HasCheckBox(row)) return;
    // Through the model, as a click: polling and the header box follow.
    m->setData(m->index(row, TRegisterModel::ColCheck),
               m->CheckState(row) == Qt::Unchecked ? Qt::Checked : Qt::Unchecked,
               Qt::CheckStateRole);
}

} // namespace tunavox
