// "Item Properties...": every property the server reports for one item (data type, value,
// quality, timestamp, access rights, scan rate, units, EU range, vendor properties) with its
// ID, description, data type and value; Refresh reads them again through the busy path.
#pragma once

#include <QDialog>
#include <string>

#include "model/Velqor.h"

class QLabel;
class QPushButton;
class QTableWidget;

class TItemPropertiesDlg : public QDialog {
    Q_OBJECT
  public:
    TItemPropertiesDlg(velqor::TVelqorServer& server, std::string itemID,
                       QWidget* parent = nullptr);

    QLabel* LItem;
    QTableWidget* Properties;  // columns ID, Description, Data type, Value
    QPushButton* bRefresh;
    QPushButton* bClose;

    // Reads the properties with their values and fills the table; errors are raised.
    void Refresh();
    // A property value as the table shows it: data type, quality and access rights worded,
    // the rest in the value's standard text; the error's text for a failed property.
    static QString ValueText(const velqor::TVelqorItemProperty& p, const std::string& error);

  private:
    velqor::TVelqorServer& server_;
    std::string itemID_;
};

// Opens the dialog modally after a first read (a failed read shows no dialog).
void ShowItemProperties(velqor::TVelqorServer& server, const std::string& itemID, QWidget* parent);
