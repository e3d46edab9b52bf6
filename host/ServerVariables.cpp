#include "host/ServerVariables.h"

#include <cstring>

namespace {
bool Param(FCGX_ParamArray params, const char* name, std::string& value) {
    const char* found = FCGX_GetParam(name, params);
    if (found == nullptr) return false;
    value = found;
    return true;
}

std::string ParamOr(FCGX_ParamArray params, const char* name, const char* fallback) {
    std::string value;
    return Param(params, name, value) ? value : std::string(fallback);
}

std::string AllHttp(FCGX_ParamArray params) {
    std::string block;
    for (char** entry = params; entry != nullptr && *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "HTTP_", 5) != 0) continue;
        const char* equals = std::strchr(*entry, '=');
        if (equals == nullptr) continue;
        block.append(*entry, static_cast<std::size_t>(equals - *entry));
        block += ':';
        block += equals + 1;
        block += '\n';
    }
    return block;
}
}  // namespace

std::size_t ParamBytes(FCGX_ParamArray params) {
    std::size_t total = 0;
    for (char** entry = params; entry != nullptr && *entry != nullptr; ++entry) total += std::strlen(*entry);
    return total;
}

bool LookUpServerVariable(FCGX_ParamArray params, const std::string& name, std::string& value) {
    std::string upper = name;
    for (auto& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (upper == "ALL_HTTP") {
        value = AllHttp(params);
        return true;
    }
    if (Param(params, upper.c_str(), value)) return true;
    if (upper == "URL") {
        std::string script;
        if (!Param(params, "SCRIPT_NAME", script)) return false;
        value = script + ParamOr(params, "PATH_INFO", "");
        return true;
    }
    if (upper == "REMOTE_HOST") return Param(params, "REMOTE_ADDR", value);
    if (upper == "SERVER_PORT_SECURE") {
        const std::string https = ParamOr(params, "HTTPS", "");
        value = https == "on" || https == "ON" || https == "1" ? "1" : "0";
        return true;
    }
    if (upper == "UNMAPPED_REMOTE_USER") return Param(params, "REMOTE_USER", value);
    return false;
}
