#pragma once
// The server variables an extension asks for, answered from a FastCGI
// request's parameters the way the extension's own host names them.
#include <string>

#include <fcgiapp.h>

// The value of name (matched without regard to case), false when the request
// has no such variable. Besides the parameters themselves: ALL_HTTP (every
// HTTP_* parameter as a "NAME:value" line ended by "\n"), URL, REMOTE_HOST
// (the address when the server looks up no names), SERVER_PORT_SECURE and
// UNMAPPED_REMOTE_USER.
bool LookUpServerVariable(FCGX_ParamArray params, const std::string& name, std::string& value);
// The total size of the parameters' text.
std::size_t ParamBytes(FCGX_ParamArray params);
