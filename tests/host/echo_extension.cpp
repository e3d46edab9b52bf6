// A small extension for the host's tests. It answers in plain text what the
// host gave it: the control block's fields, server variables asked for by
// name, and the body as read through the preloaded bytes and ReadClient.
// The query string chooses what it does:
//   vars=A,B,...  also report these variables (asked first with a buffer
//                 too small, to see the size the host wants)
//   piece=N       read the body in ReadClient calls of at most N bytes
//   redirect=URL  ask for a redirect before writing the header block
//   late=URL      ask for a redirect after the header block went out
//   fail          return an error status without writing anything
//   sleep=MS      wait before answering
//   raw=TEXT      write TEXT as the whole answer
// (in raw and redirect values %0A stands for a line feed, %0D for a CR)
// GetExtensionVersion refuses when ECHO_REFUSE is set; TerminateExtension
// writes its flags to the file named by ECHO_TERMINATE_FILE.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "gateway/frontends/IsapiTypes.h"

namespace {
std::string Option(const std::string& query, const std::string& name) {
    std::size_t at = 0;
    while (at <= query.size()) {
        const std::size_t end = query.find('&', at) == std::string::npos ? query.size() : query.find('&', at);
        const std::string item = query.substr(at, end - at);
        if (item == name) return "1";
        if (item.compare(0, name.size() + 1, name + "=") == 0) return item.substr(name.size() + 1);
        at = end + 1;
    }
    return "";
}

void Send(EXTENSION_CONTROL_BLOCK* ecb, const std::string& text) {
    ISAPI_DWORD size = static_cast<ISAPI_DWORD>(text.size());
    ecb->WriteClient(ecb->ConnID, const_cast<char*>(text.data()), &size, 0);
}

std::string Variable(EXTENSION_CONTROL_BLOCK* ecb, const std::string& name) {
    std::vector<char> small(2);
    ISAPI_DWORD size = static_cast<ISAPI_DWORD>(small.size());
    std::string out = name;
    if (ecb->GetServerVariable(ecb->ConnID, const_cast<char*>(name.c_str()), small.data(), &size)) {
        out += " fits-in-2";
    } else if (size <= small.size()) {
        return out + " absent\n";
    }
    std::vector<char> buffer(size);
    if (!ecb->GetServerVariable(ecb->ConnID, const_cast<char*>(name.c_str()), buffer.data(), &size))
        return out + " refused-at-its-own-size\n";
    return out + " size=" + std::to_string(size) + " value=[" + std::string(buffer.data()) + "]\n";
}

std::string Body(EXTENSION_CONTROL_BLOCK* ecb, ISAPI_DWORD piece, std::string& pieces) {
    std::string body(reinterpret_cast<const char*>(ecb->lpbData), ecb->cbAvailable);
    while (body.size() < ecb->cbTotalBytes) {
        std::vector<char> buffer(piece);
        ISAPI_DWORD size = piece;
        if (!ecb->ReadClient(ecb->ConnID, buffer.data(), &size) || size == 0) {
            pieces += " end";
            break;
        }
        pieces += " " + std::to_string(size);
        body.append(buffer.data(), size);
    }
    return body;
}

std::string Unescaped(std::string text) {
    for (std::size_t at; (at = text.find("%0A")) != std::string::npos;) text.replace(at, 3, "\n");
    for (std::size_t at; (at = text.find("%0D")) != std::string::npos;) text.replace(at, 3, "\r");
    return text;
}
}  // namespace

extern "C" {
__attribute__((visibility("default"))) ISAPI_BOOL GetExtensionVersion(HSE_VERSION_INFO* version) {
    version->dwExtensionVersion = HSE_VERSION;
    std::snprintf(version->lpszExtensionDesc, sizeof version->lpszExtensionDesc, "echo");
    return std::getenv("ECHO_REFUSE") ? ISAPI_FALSE : ISAPI_TRUE;
}

__attribute__((visibility("default"))) ISAPI_DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
    const std::string query = ecb->lpszQueryString;
    if (!Option(query, "sleep").empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(Option(query, "sleep").c_str())));
    if (!Option(query, "fail").empty()) return HSE_STATUS_ERROR;
    if (!Option(query, "raw").empty()) {
        Send(ecb, Unescaped(Option(query, "raw")));
        return HSE_STATUS_SUCCESS;
    }
    std::string redirect = Unescaped(Option(query, "redirect"));
    if (!redirect.empty()) {
        ISAPI_DWORD size = static_cast<ISAPI_DWORD>(redirect.size() + 1);
        if (!ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_URL_REDIRECT_RESP, redirect.data(), &size, nullptr))
            Send(ecb, "HTTP/1.0 500 Redirect Refused\r\n\r\n");
    }
    Send(ecb, "HTTP/1.0 200 OK\r\n");
    Send(ecb, "Content-Type: text/plain\r\n\r\n");
    std::string late = Option(query, "late");
    ISAPI_DWORD lateSize = static_cast<ISAPI_DWORD>(late.size() + 1);
    std::string text = "method=" + std::string(ecb->lpszMethod) + "\nquery=" + query +
                       "\npath_info=" + ecb->lpszPathInfo + "\npath_translated=" + ecb->lpszPathTranslated +
                       "\ncontent_type=" + ecb->lpszContentType + "\ntotal=" + std::to_string(ecb->cbTotalBytes) +
                       "\navailable=" + std::to_string(ecb->cbAvailable) + "\n";
    if (!late.empty())
        text += std::string("late redirect ") +
                (ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_URL_REDIRECT_RESP, late.data(), &lateSize,
                                            nullptr)
                     ? "accepted"
                     : "refused") +
                "\n";
    std::string vars = Option(query, "vars");
    for (std::size_t at = 0; !vars.empty() && at <= vars.size();) {
        const std::size_t end = vars.find(',', at) == std::string::npos ? vars.size() : vars.find(',', at);
        text += Variable(ecb, vars.substr(at, end - at));
        at = end + 1;
    }
    const std::string piece = Option(query, "piece");
    std::string pieces;
    const std::string body = Body(ecb, piece.empty() ? 65536 : static_cast<ISAPI_DWORD>(std::atoi(piece.c_str())), pieces);
    text += "pieces=" + pieces + "\nbody=" + std::to_string(body.size()) + "\n" + body;
    Send(ecb, text);
    return HSE_STATUS_SUCCESS;
}

__attribute__((visibility("default"))) ISAPI_BOOL TerminateExtension(ISAPI_DWORD flags) {
    if (const char* file = std::getenv("ECHO_TERMINATE_FILE")) {
        if (FILE* f = std::fopen(file, "w")) {
            std::fprintf(f, "%u\n", flags);
            std::fclose(f);
        }
    }
    return ISAPI_TRUE;
}

__attribute__((visibility("default"))) ISAPI_BOOL GetFilterVersion(HTTP_FILTER_VERSION* version) {
    version->dwFilterVersion = HTTP_FILTER_REVISION;
    version->dwFlags = 0;
    return ISAPI_TRUE;
}

// Built without it, the file is an extension the host must refuse.
#ifndef ECHO_WITHOUT_FILTER_PROC
__attribute__((visibility("default"))) ISAPI_DWORD HttpFilterProc(HTTP_FILTER_CONTEXT*, ISAPI_DWORD, void*) {
    return static_cast<ISAPI_DWORD>(SF_STATUS_REQ_NEXT_NOTIFICATION);
}
#endif
}
