// The load routine of the program built as an in-process extension: when a
// host process loads the library, the program starts as its executable does
// (process, gateway units, application object, Mainform, qv) but enters no
// message loop; requests then arrive through the exported entry points on
// the host's threads.
#include <cstdio>
#include <exception>

#include "app/OnlineUnit.h"
#include "gateway/frontends/GatewayUnits.h"
#include "platform/Exception.h"
#include "platform/Process.h"

namespace {
// Runs before every other initialiser in the library (prioritised
// initialisers come first), so no unit sees the flag unset.
__attribute__((constructor(101))) void MarkRunningAsLibrary() { RunningAsLibrary = true; }

// The start-up proper needs every unit's own initialisers done first. This
// file is linked last (see CMakeLists.txt), and initialisers without a
// priority run in link order, so this object is initialised last.
struct TLibraryLoad {
    TLibraryLoad() {
        try {
            InitProcess(0, nullptr);
            StartGatewayUnits();
            CreateApplication();
        } catch (const std::exception& e) {
            // An exception must not leave the host's dlopen; the engine is
            // then missing and GetExtensionVersion refuses the load.
            std::fprintf(stderr, "valsetto: start-up in the host process failed: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "valsetto: start-up in the host process failed\n");
        }
    }
};
TLibraryLoad libraryLoad;
}  // namespace
