// Texts of tagscope-cli: data-type names, quality texts, and the escaping of CSV and JSON output,
// shared with the desktop program through the toolkit's contract.
#pragma once

#include "contract/VelqorTexts.h"

namespace tagscope::cli {

using velqor::CsvField;
using velqor::CsvValueText;
using velqor::HumanText;
using velqor::JsonString;
using velqor::JsonValue;
using velqor::MachineDateText;
using velqor::ParseVarType;
using velqor::QualityCode;
using velqor::QualityText;
using velqor::VarTypeName;

}  // namespace tagscope::cli
