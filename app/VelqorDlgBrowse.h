// The item browse dialog: walks a connected server's address space one level at a time through
// the component's address-space browser and returns the chosen items' identifiers.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "model/Velqor.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QToolButton;

class TVelqorDlgBrowse : public QDialog {
    Q_OBJECT
  public:
    // The picture of an entry: a branch that can be entered, or an item.
    enum Picture { kBranch = 0, kItem = 1 };
    static constexpr int PictureRole = Qt::UserRole + 1;

    // Returns false at once (no window) when the browser has no active server component;
    // otherwise shows the dialog and returns true when it closed with OK, the chosen
    // identifiers in result.
    static bool Execute(velqor::TVelqorBrowser& browser, std::vector<std::string>& result,
                        bool startAtRoot, QWidget* parent = nullptr);

    TVelqorDlgBrowse(velqor::TVelqorBrowser& browser, std::vector<std::string>& result,
                     bool startAtRoot, QWidget* parent = nullptr);

    QToolButton* bBack;
    QListWidget* ListView;
    QLineEdit* eFilter;
    QComboBox* cDataType;
    QPushButton* bOk;
    QPushButton* bCancel;
    QLineEdit* ePath;
    QCheckBox* cWritable;
    QCheckBox* cReadable;

    void FormShow();
    void Refresh();
    void bBackClick();
    // Enters the selected branch; false when none was entered.
    bool EnterSelectedBranch();
    void bOkClick();
    void UpdateEvent();
    // The browse entry an entry of the list stands for.
    velqor::TVelqorBrowseItem* BrowseItemOf(QListWidgetItem* entry) const;

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    velqor::TVelqorBrowser& browser_;
    std::vector<std::string>& result_;
    bool startAtRoot_;
};
