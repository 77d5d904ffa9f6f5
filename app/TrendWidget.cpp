#include "TrendWidget.h"

#include <QDateTime>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <cmath>
#include <tuple>
#include <utility>

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
    if (v.Type() == velqor::VT_BOOL) {
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
            s.Steps = item->CanonicalDatatype() == velqor::VT_BOOL ||
                      item->Value().Type() == velqor::VT_BOOL;
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
            if (item->Value().Type() == velqor::VT_BOOL) s.Steps = true;
            s.Points.push_back({now, v});
            // Bounded both by count and by age; the last point before the shown span stays,
            // so that an item that has not changed for long is still drawn at its value.
            while (s.Points.size() > kMaxPoints ||
                   (s.Points.size() > 1 && s.Points[1].t < now - 2 * span_))
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
    // The time shown follows the data until it fills the span (at least 10 s); an item that
    // has not changed within the span does not stretch it.
    double earliest = now;
    for (const Series& sr : series_) {
        auto in = std::lower_bound(sr.Points.begin(), sr.Points.end(), now - span_,
                                   [](const Point& a, double t) { return a.t < t; });
        if (in != sr.Points.end()) earliest = std::min(earliest, in->t);
    }
    const double span = std::clamp(now - earliest, 10.0, span_);
    const double t0 = now - span;

    // Each series' range over what is visible (the last point before the span holds the line's
    // start); a boolean always spans 0 to 1.
    auto rangeOf = [&](const Series& sr) {
        double lo = INFINITY, hi = -INFINITY;
        for (auto it = sr.Points.rbegin(); it != sr.Points.rend(); ++it) {
            lo = std::min(lo, it->v);
            hi = std::max(hi, it->v);
            if (it->t < t0) break;
        }
        if (sr.Steps) lo = std::min(lo, 0.0), hi = std::max(hi, 1.0);
        return std::pair{lo, hi};
    };
    auto padded = [](double lo, double hi) {
        if (!(lo <= hi)) lo = 0, hi = 1;
        if (hi - lo < 1e-9) lo -= 0.5, hi += 0.5;
        const double pad = (hi - lo) * 0.05;
        return std::pair{lo - pad, hi + pad};
    };
    // One series: its own numbers on the axis. Several: each drawn in its own range, so that a
    // boolean beside a speed in thousands is not a flat line; the legend gives each range.
    const bool ownScales = series_.size() > 1;
    std::vector<std::pair<double, double>> ranges, drawn;  // as found; as drawn (padded)
    for (const Series& sr : series_) {
        ranges.push_back(rangeOf(sr));
        drawn.push_back(padded(ranges.back().first, ranges.back().second));
    }
    double lo = 0, hi = 1;
    if (!ownScales && !drawn.empty()) std::tie(lo, hi) = drawn.front();
    auto X = [&](double t) { return plot.left() + (t - t0) / span * plot.width(); };
    auto Y = [&](double v) { return plot.bottom() - (v - lo) / (hi - lo) * plot.height(); };

    // Grid and axes.
    p.setPen(QColor(0xE0, 0xE0, 0xE0));
    const double vstep = NiceStep(hi - lo, std::max(2, plot.height() / (2 * fm.height())));
    p.setFont(p.font());
    for (double v = std::ceil(lo / vstep) * vstep; v <= hi; v += vstep) {
        p.setPen(QColor(0xE0, 0xE0, 0xE0));
        p.drawLine(QPointF(plot.left(), Y(v)), QPointF(plot.right(), Y(v)));
        p.setPen(Qt::darkGray);
        const QString label =
            ownScales ? QString::number(std::lround(v * 100)) + "%" : QString::number(v, 'g', 6);
        p.drawText(QRectF(0, Y(v) - fm.height() / 2.0, left - 4, fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, label);
    }
    const double tstep = span > 120 ? 60 : span > 30 ? 10 : 5;
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
    for (size_t i = 0; i < series_.size(); ++i) {
        const Series& s = series_[i];
        const QColor c = kColours[colour++ % std::size(kColours)];
        if (s.Points.empty()) continue;
        // In its own range (with one series, the axis's).
        const auto [sLo, sHi] = drawn[i];
        auto seriesY = [&](double v) {
            return plot.bottom() - (v - sLo) / (sHi - sLo) * plot.height();
        };
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
            const double x = X(it->t), y = seriesY(it->v);
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
    for (size_t i = 0; i < series_.size(); ++i) {
        const Series& s = series_[i];
        const QColor c = kColours[colour++ % std::size(kColours)];
        QString text =
            s.Points.empty() ? s.Name : s.Name + " = " + QString::number(s.Points.back().v, 'g', 6);
        if (ownScales && !s.Points.empty()) {
            const auto [l, h] = ranges[i];
            text +=
                QString(" (%1 … %2)").arg(QString::number(l, 'g', 6), QString::number(h, 'g', 6));
        }
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
