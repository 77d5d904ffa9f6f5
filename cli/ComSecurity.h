// The process's DCOM security: how strongly its calls and the callbacks it accepts are
// authenticated, and what a server may do with its identity. Set once, before the first COM
// object is made; a client that leaves it to the system's defaults may have the callbacks of a
// server on another computer refused. The names are those of --auth-level and --impersonation.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tagscope::cli {

struct LevelName {
    const char* name;
    uint32_t level;
};
// Authentication levels, by the numbers of RPC_C_AUTHN_LEVEL_NONE ... _PKT_PRIVACY.
std::span<const LevelName> AuthLevels();
// Impersonation levels, by the numbers of RPC_C_IMP_LEVEL_ANONYMOUS ... _DELEGATE.
std::span<const LevelName> ImpersonationLevels();
// The level of a name (case ignored); nullopt for a name not in the table.
std::optional<uint32_t> LevelOf(std::span<const LevelName> table, std::string_view name);
// The name of a level ("" for a level not in the table).
std::string NameOfLevel(std::span<const LevelName> table, uint32_t level);
// The names of a table, comma-separated, for help and error texts.
std::string LevelNamesText(std::span<const LevelName> table);

struct ComSecurity {
    uint32_t authLevel = 2;      // connect: the caller is authenticated once, when it connects
    uint32_t impersonation = 2;  // identify: a server may learn who calls, not act as the caller
};

// COM for the whole run of the program. On Windows: initialises COM on the calling thread (a
// single-threaded apartment, as the commands use) and sets the process's security; a failure
// of either is a warning on the stream, not the end. The commands' own initialisations of this
// thread then only count up. Elsewhere (the toolkit's own runtime, no DCOM) nothing is done.
class ProcessCom {
  public:
    ProcessCom(const ComSecurity& security, std::ostream& warnings);
    ~ProcessCom();
    ProcessCom(const ProcessCom&) = delete;
    ProcessCom& operator=(const ProcessCom&) = delete;

  private:
    bool initialized_ = false;
};

}  // namespace tagscope::cli
