// The item list's columns sized to what they hold: access path, active, time and quality as wide
// as their header and their visible cells; the rest of the view's width shared by item ID and
// value, which want the room most. Fitted again when the view is resized and when rows come or
// go, so that the list does not scroll sideways at the window's first size and nothing is cut
// that fits. A column the user drags to a width of their own keeps it (for the run).
#pragma once

#include <QObject>
#include <QSet>

class QTableView;
class QTimer;

class TColumnFitter : public QObject {
  public:
    // Fits the columns of view (its model's columns are the item list's) from now on.
    explicit TColumnFitter(QTableView* view);
    void Fit();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QTableView* view_;
    QTimer* soon_;  // one fit for a burst of changes
    QSet<int> userSized_;
    bool fitting_ = false;
};
