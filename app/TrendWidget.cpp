#include "TrendWidget.h"

#include <QDateTime>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <cmath>

using namespace velqor;

namespace {
// Distinct colours that read on a white background.
const QColor kColours[] = {
    {0x1F, 0x77, 0xB4}, {0xD6, 0x27, 0x28}, {0x2C, 0xA0, 0x2C}, {0xFF, 0x7F, 0x0E},
    {0x94, 0x67, 0xBD}, {0x8C, 0x56, 0x4B}, {0xE3, 0x77, 0xC2}, {0x7F, 0x7F, 0x7F},
    {0xBC, 0xBD, 0x22}, {0x17, 0xBE, 0xCF},
};

double NowSeconds() { return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0; }

// A plottable number of a value: numbers and booleans (as 0 and 1); nothing else.
bool Numeric(const Variant& v, double& out) {
    if (v.IsArray() || v.IsEmpty() || v.IsNull()) return false;
    if (v.Type() == VT_BOOL) {
        out = v.RawInt() ? 1 : 0;
        return true;
    }
    if (!v.IsNumeric()) return false;
    try {
        out = v.AsDouble();
        return std::isfinite(out);
    } catch (const std::exception&) {
        return false;
    }
}

// A "nice" step for about n divisions of a range.
double NiceStep(double range, int n) {
    const double raw = range / std::max(n, 1);
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / mag;
    return (f < 1.5 ? 1 : f < 3.5 ? 2 : f < 7.5 ? 5 : 10) * mag;
}
}  // namespace

TrendWidget::TrendWidget(QWidget* parent) : QWidget(parent), repaint_(new QTimer(this)) {
    setObjectName("Trend");
    setMinimumHeight(120);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Five frames a second: enough to follow a process, cheap for the window's thread.
    repaint_->setInterval(200);
    connect(repaint_, &QTimer::timeout, this, [this] {
        if (isVisible() && (dirty_ || !series_.empty())) update();
        dirty_ = false;
    });
    repaint_->start();
}

void TrendWidget::SetItems(const std::vector<TVelqorItemData*>& items) {
    std::vector<Series> next;
    for (TVelqorItemData* item : items) {
        if (int(next.size()) >= kMaxSeries) break;
        const uint32_t h = item->ClientHandle();
        auto old = std::find_if(series_.begin(), series_.end(),
                                [h](const Series& s) { return s.Handle == h; });
        if (old != series_.end()) {
            next.push_back(std::move(*old));
        } else {
            Series s;
            s.Handle = h;
            s.Name = QString::fromStdString(item->ItemID());
            s.Steps = item->CanonicalDatatype() == VT_BOOL || item->Value().Type() == VT_BOOL;
            next.push_back(std::move(s));
        }
    }
    series_ = std::move(next);
    dirty_ = true;
}

void TrendWidget::Record(const TVelqorItemList& items) { Record(items, NowSeconds()); }

void TrendWidget::Record(const TVelqorItemList& items, double now) {
    if (series_.empty()) return;
    for (TVelqorItemData* item : items) {
        const uint32_t h = item->ClientHandle();
        for (Series& s : series_) {
            if (s.Handle != h) continue;
            double v = 0;
            if (!Numeric(item->Value(), v)) break;
            if (item->Value().Type() == VT_BOOL) s.Steps = true;
            s.Points.push_back({now, v});
            // Bounded both by count and by age.
            while (s.Points.size() > kMaxPoints ||
                   (!s.Points.empty() && s.Points.front().t < now - 2 * span_))
                s.Points.pop_front();
            dirty_ = true;
            break;
        }
    }
}

void TrendWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    Draw(p, size(), NowSeconds());
}

void TrendWidget::Draw(QPainter& p, const QSize& size, double now) const {
    p.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    const QFontMetrics fm = p.fontMetrics();
    const int left = fm.horizontalAdvance("-00000.0") + 8, right = 8;
    const int top = fm.height() + 8, bottom = fm.height() + 8;
    const QRect plot(left, top, std::max(10, size.width() - left - right),
                     std::max(10, size.height() - top - bottom));
    const double t0 = now - span_;

    // Autoscale over what is visible (the last point before the span holds the line's start).
    double lo = INFINITY, hi = -INFINITY;
    for (const Series& s : series_)
        for (auto it = s.Points.rbegin(); it != s.Points.rend(); ++it) {
            lo = std::min(lo, it->v);
            hi = std::max(hi, it->v);
            if (it->t < t0) break;
        }
    if (!(lo <= hi)) lo = 0, hi = 1;
    if (hi - lo < 1e-9) lo -= 0.5, hi += 0.5;
    const double pad = (hi - lo) * 0.05;
    lo -= pad;
    hi += pad;
    auto X = [&](double t) { return plot.left() + (t - t0) / span_ * plot.width(); };
    auto Y = [&](double v) { return plot.bottom() - (v - lo) / (hi - lo) * plot.height(); };

    // Grid and axes.
    p.setPen(QColor(0xE0, 0xE0, 0xE0));
    const double vstep = NiceStep(hi - lo, std::max(2, plot.height() / (2 * fm.height())));
    p.setFont(p.font());
    for (double v = std::ceil(lo / vstep) * vstep; v <= hi; v += vstep) {
        p.setPen(QColor(0xE0, 0xE0, 0xE0));
        p.drawLine(QPointF(plot.left(), Y(v)), QPointF(plot.right(), Y(v)));
        p.setPen(Qt::darkGray);
        p.drawText(QRectF(0, Y(v) - fm.height() / 2.0, left - 4, fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, QString::number(v, 'g', 6));
    }
    const double tstep = span_ > 120 ? 60 : span_ > 30 ? 10 : 5;
    for (double t = std::ceil(t0 / tstep) * tstep; t <= now; t += tstep) {
        p.setPen(QColor(0xE0, 0xE0, 0xE0));
        p.drawLine(QPointF(X(t), plot.top()), QPointF(X(t), plot.bottom()));
        p.setPen(Qt::darkGray);
        const QString label = QDateTime::fromMSecsSinceEpoch(qint64(t * 1000)).toString("HH:mm:ss");
        p.drawText(QRectF(X(t) - 40, plot.bottom() + 2, 80, fm.height()), Qt::AlignCenter, label);
    }
    p.setPen(Qt::gray);
    p.drawRect(plot);

    // The series, clipped to the plot.
    p.save();
    p.setClipRect(plot.adjusted(1, 1, 0, 0));
    p.setRenderHint(QPainter::Antialiasing, false);
    int colour = 0;
    for (const Series& s : series_) {
        const QColor c = kColours[colour++ % std::size(kColours)];
        if (s.Points.empty()) continue;
        // Only the visible part and the one point before it.
        auto first = std::lower_bound(s.Points.begin(), s.Points.end(), t0,
                                      [](const Point& a, double t) { return a.t < t; });
        if (first != s.Points.begin()) --first;
        // One pixel column at a time: its first, lowest, highest and last value, so that the
        // cost follows the width of the plot, not the length of the history.
        QPolygonF line;
        int col = INT_MIN;
        double cFirst = 0, cMin = 0, cMax = 0, cLast = 0;
        auto flush = [&] {
            if (col == INT_MIN) return;
            if (s.Steps && !line.isEmpty()) line << QPointF(col, line.back().y());
            line << QPointF(col, cFirst);
            if (cMin < cFirst) line << QPointF(col, cMin);
            if (cMax > cMin) line << QPointF(col, cMax);
            line << QPointF(col, cLast);
        };
        for (auto it = first; it != s.Points.end(); ++it) {
            const double x = X(it->t), y = Y(it->v);
            const int column = int(std::floor(x));
            if (column != col) {
                flush();
                col = column;
                cFirst = cMin = cMax = cLast = y;
            } else {
                cMin = std::min(cMin, y);
                cMax = std::max(cMax, y);
                cLast = y;
            }
        }
        flush();
        const double lastY = line.back().y();
        line << QPointF(X(now), lastY);  // the last value holds until now
        QPen pen(c, 1);
        pen.setCosmetic(true);
        p.setPen(pen);
        p.drawPolyline(line);
    }
    p.restore();

    // Legend along the top.
    int x = plot.left();
    colour = 0;
    for (const Series& s : series_) {
        const QColor c = kColours[colour++ % std::size(kColours)];
        const QString text =
            s.Points.empty() ? s.Name : s.Name + " = " + QString::number(s.Points.back().v, 'g', 6);
        p.fillRect(QRect(x, 4 + fm.height() / 2 - 3, 10, 6), c);
        p.setPen(Qt::black);
        p.drawText(QPoint(x + 14, 4 + fm.ascent()), text);
        x += 14 + fm.horizontalAdvance(text) + 12;
        if (x > size.width()) break;
    }
    if (series_.empty()) {
        p.setPen(Qt::darkGray);
        p.drawText(plot, Qt::AlignCenter, "Select items in the list to plot them here.");
    }
}
