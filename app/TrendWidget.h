// The live trend: the numeric values of a few items over the last minutes, drawn with Qt's
// painter. Each series keeps a bounded history; booleans are drawn as steps. Several series are
// each drawn in their own range (the legend names it), and the time shown follows the data
// until it fills the span. Series are keyed
// by the item's client handle and keep their own name, so that a removed item never leaves
// the trend holding a dangling item. Repaints are paced by a timer, not by every data change.
#pragma once

#include <QWidget>
#include <cstdint>
#include <deque>
#include <vector>

#include "contract/VelqorItemData.h"

class QPainter;
class QTimer;

class TrendWidget : public QWidget {
    Q_OBJECT
  public:
    static constexpr size_t kMaxPoints = 3000;  // per series: 5 minutes at 10 changes/s
    static constexpr int kMaxSeries = 20;

    struct Point {
        double t;  // seconds since the epoch, local clock of this program
        double v;
    };
    struct Series {
        uint32_t Handle = 0;
        QString Name;
        bool Steps = false;  // a boolean item: drawn as steps
        std::deque<Point> Points;
    };

    explicit TrendWidget(QWidget* parent = nullptr);

    // The items to plot (the first kMaxSeries of them); series of items still plotted keep
    // their history, the others are dropped.
    void SetItems(const std::vector<velqor::TVelqorItemData*>& items);
    // Adds the numeric values of the plotted items in the list, at time now (seconds).
    void Record(const velqor::TVelqorItemList& items, double now);
    void Record(const velqor::TVelqorItemList& items);

    const std::vector<Series>& AllSeries() const { return series_; }
    // The longest time span shown, in seconds (the last minutes).
    double Span() const { return span_; }
    void SetSpan(double seconds) { span_ = seconds; }
    // Draws the whole trend as of now onto a painter of the given size (the paint event and the
    // benchmark use it).
    void Draw(QPainter& p, const QSize& size, double now) const;

    QSize sizeHint() const override { return {600, 180}; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    std::vector<Series> series_;
    double span_ = 300;
    bool dirty_ = false;
    QTimer* repaint_;
};
