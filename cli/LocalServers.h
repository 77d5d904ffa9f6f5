// The servers a run of tagscope-cli can reach without anything installed. One file per kind of
// build (cli/platform): with the toolkit's own COM runtime, the simulated servers and the
// server enumerator are registered in the process (LocalServersSim.cpp); on the platform's COM,
// servers come through the registry and nothing is added (LocalServersNone.cpp).
#pragma once

namespace tagscope::cli {

void RegisterLocalServers();

}  // namespace tagscope::cli
