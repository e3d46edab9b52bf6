#pragma once
// One FastCGI request served through the extension: the control block is
// built from the request's parameters and streams, HttpExtensionProc runs on
// the calling thread, and the answer goes back through a TResponseFilter.
#include <fcgiapp.h>

#include <cstdint>

struct TExtension;

// The body bytes read before the extension is called (cbAvailable).
constexpr unsigned PreloadLimit = 48 * 1024;
// Parameters (names and values together) beyond this are refused with 431.
constexpr unsigned MaxParamBytes = 256 * 1024;

// The largest body accepted unless -b says otherwise.
constexpr std::uint32_t DefaultBodyLimit = 1024 * 1024;

// Serves one request; a body longer than bodyLimit is refused with 413
// before any of it is read.
void ServeRequest(FCGX_Request& request, const TExtension& extension, std::uint32_t bodyLimit);
