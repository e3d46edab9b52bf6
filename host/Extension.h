#pragma once
// An in-process extension loaded with dlopen: its five entry points, looked
// up by name, and the version handshake done once before any request.
#include <string>

#include "gateway/frontends/IsapiTypes.h"

struct TExtension {
    void* Handle = nullptr;
    PFN_GETEXTENSIONVERSION GetExtensionVersion = nullptr;
    PFN_HTTPEXTENSIONPROC HttpExtensionProc = nullptr;
    PFN_TERMINATEEXTENSION TerminateExtension = nullptr;
    PFN_GETFILTERVERSION GetFilterVersion = nullptr;
    PFN_HTTPFILTERPROC HttpFilterProc = nullptr;
    std::string Description;  // what GetExtensionVersion reported
};

// Loads the file, resolves all five names and calls GetExtensionVersion.
// False with a message in error when the file cannot be loaded, a name is
// missing, or the extension refuses to load.
bool LoadExtension(const std::string& path, TExtension& extension, std::string& error);
