// Inside the runtime: the registered classes per computer, which activation, the classes-root
// registry and the component categories manager all read.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ComPlatform.h"
#include "ComRuntimeControl.h"

namespace velqor::com::detail {

std::string LowerAscii(std::string_view text);
// This computer's name as GetComputerName gives it (upper case, up to the first dot).
std::string ComputerName();
// "" for this computer (blank, "localhost", or this computer's name), else the lower-case name.
std::string ComputerKey(std::string_view name);

std::optional<ClassRegistration> FindClass(REFCLSID clsid, const std::string& computerKey = "");
std::optional<ClassRegistration> FindProgId(std::string_view progId);

// Objects the runtime itself provides on this computer.
HRESULT CreateGlobalInterfaceTable(REFIID riid, void** object);
HRESULT CreateCategoriesManager(REFIID riid, void** object);

}  // namespace velqor::com::detail
