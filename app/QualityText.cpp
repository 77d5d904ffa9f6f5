#include "QualityText.h"

#include "contract/VelqorIntf.h"
#include "contract/VelqorItemData.h"
#include "contract/VelqorTexts.h"

QString QualityCellText(int32_t quality) {
    return QString::fromStdString(velqor::QualityText(quality));
}

QColor QualityColour(int32_t quality) {
    switch (quality & velqor::kQualityStatusMask) {
        case velqor::kQualityGood:
            return QColor(0x1B, 0x7A, 0x2E);
        case velqor::kQualityUncertain:
            return QColor(0xB3, 0x6B, 0x00);
        default:
            return QColor(0xC0, 0x18, 0x18);
    }
}

QString TimeFormatWithMilliseconds(QString format) {
    if (format.contains('z')) return format;
    const int s = format.lastIndexOf("ss");
    if (s < 0) return format;
    return format.insert(s + 2, ".zzz");
}

QString ItemToolTip(const velqor::TVelqorItemData& item, const QString& problem) {
    const int32_t type = item.CanonicalDatatype();
    QString tip = "Item ID: " + QString::fromStdString(item.ItemID());
    if (!item.AccessPath().empty())
        tip += "\nAccess path: " + QString::fromStdString(item.AccessPath());
    tip += "\nData type: " + (type == 0 ? QString("not yet known")
                                        : QString::fromStdString(velqor::VarTypeName(type)));
    tip += "\nQuality: " + QualityCellText(item.Quality()) + " (" +
           QString::fromStdString(velqor::QualityCode(item.Quality())) + ")";
    if (item.Error() != 0) {
        const QString code = QString("0x%1").arg(uint32_t(item.Error()), 8, 16, QChar('0'));
        tip += "\nLast error: " + (problem.isEmpty() ? code : problem + " (" + code + ")");
    } else if (!problem.isEmpty()) {
        tip += "\n" + problem;
    }
    return tip;
}
