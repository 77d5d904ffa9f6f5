// How the item list words an item's state for people: the whole quality word by its OPC name,
// a colour by its status, the time of day with milliseconds, and the item's details tooltip.
#pragma once

#include <QColor>
#include <QString>
#include <cstdint>

namespace velqor {
class TVelqorItemData;
}

// The quality column's text: the OPC quality name with its limit ("good",
// "uncertainEUExceeded+high", "badNotConnected", ...), the toolkit's one decoding.
QString QualityCellText(int32_t quality);
// Good dark green, uncertain amber, bad red.
QColor QualityColour(int32_t quality);
// "HH:mm:ss.zzz" in the given time format (the locale's, without its zone); a format without
// seconds gets none.
QString TimeFormatWithMilliseconds(QString format);
// The tooltip of an item's row: full item ID, access path, data type, quality with its code,
// and the reason the row is not current or the last error (problem), when there is one.
QString ItemToolTip(const velqor::TVelqorItemData& item, const QString& problem);
