// "Write Value...": writes one typed value to one item or to several selected items of a group.
// The dialog shows the items, their canonical data type and current value, checks the typed
// text against each item's type (arrays as a list "1;2;3", truth values as true/false/1/0),
// writes synchronously through the busy path and shows each item's result in its table. The
// typed value has the focus; the current values follow the items while the dialog is open.
#pragma once

#include <QDialog>
#include <vector>

#include "model/Velqor.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class TWriteValueDlg : public QDialog {
    Q_OBJECT
  public:
    // items: of one group, at least one; they must outlive the dialog.
    TWriteValueDlg(std::vector<velqor::TVelqorItem*> items, QWidget* parent = nullptr);

    QLineEdit* eValue;
    QLabel* LHint;          // the form the input takes, or why it was not accepted
    QTableWidget* Results;  // one row per item: ID, data type, current value, result
    QPushButton* bWrite;
    QPushButton* bClose;

    // Checks the input and writes it; false when nothing was written (the input did not fit
    // any item, or the call failed; the hint says why). Errors of the call are raised.
    bool Write();

    // The value typed for an item of that variant type (raises EVariantError when it does not
    // convert): arrays from their ";"-separated elements, texts as typed.
    static velqor::Variant ValueFor(const QString& text, int32_t type);
    // The type a write uses for an item: its canonical type, else that of its current value.
    static int32_t TypeOf(const velqor::TVelqorItem& item);

  private:
    void ShowItems();
    void ShowValues();  // the items' current values, as they change
    std::vector<velqor::TVelqorItem*> items_;
};

// Opens the dialog modally for the items (nothing for none).
void WriteItemValues(const std::vector<velqor::TVelqorItem*>& items, QWidget* parent);
