// What the bridge publishes for an item, and what it takes from a write request: JSON texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "contract/VelqorTexts.h"

namespace velqor {
class TVelqorItemData;
}

namespace tagscope::bridge {

// A date-time in UTC as ISO 8601 with milliseconds and "Z" ("2026-01-01T00:00:00.000Z").
std::string UtcIsoText(double local);

// The JSON of an item's change:
//   {"value":…,"quality":"good","qualityCode":192,"timestamp":"…Z","type":"R8"}
// arrays as JSON arrays, non-finite numbers and texts as strings, no timestamp as null; an item
// the server failed adds "error". notConnected: the link to the server is down, whatever the
// item last held (value null, quality "badNotConnected").
class PayloadWriter {
  public:
    std::string Of(const velqor::TVelqorItemData& item, bool notConnected = false);

  private:
    velqor::TDateTexts stamps_{UtcIsoText};
};

// The text of a value sent to "<item>/set" (a JSON value, or an object with "value"), in the
// form ValueFromText reads: numbers and truth values as JSON writes them, a string as it is,
// arrays as their elements joined by ";". Raises std::invalid_argument saying what is wrong.
std::string WriteTextFromJson(const std::string& json);

// The reply on "<item>/set/result": {"ok":true} or {"ok":false,"error":"…"}.
std::string WriteResultJson(const std::string& error);

}  // namespace tagscope::bridge
