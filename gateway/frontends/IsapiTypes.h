#pragma once
// The structures, constants and entry-point signatures of the in-process web
// server extension interface, laid out field for field as that interface
// publishes them, so a host written against the published layout can load
// the program. The server's 32-bit DWORD/BOOL become fixed-width integers;
// pointers keep the platform's width. The host's calling convention is the
// platform's C convention.
#include <cstddef>
#include <cstdint>

using ISAPI_DWORD = std::uint32_t;
using ISAPI_BOOL = std::int32_t;
using HCONN = void*;

constexpr ISAPI_BOOL ISAPI_TRUE = 1;
constexpr ISAPI_BOOL ISAPI_FALSE = 0;

// Extension versions and buffer sizes.
constexpr ISAPI_DWORD HSE_VERSION_MAJOR = 2;
constexpr ISAPI_DWORD HSE_VERSION_MINOR = 0;
constexpr ISAPI_DWORD HSE_VERSION = (HSE_VERSION_MAJOR << 16) | HSE_VERSION_MINOR;
constexpr std::size_t HSE_LOG_BUFFER_LEN = 80;
constexpr std::size_t HSE_MAX_EXT_DLL_NAME_LEN = 256;

// Results of HttpExtensionProc.
constexpr ISAPI_DWORD HSE_STATUS_SUCCESS = 1;
constexpr ISAPI_DWORD HSE_STATUS_SUCCESS_AND_KEEP_CONN = 2;
constexpr ISAPI_DWORD HSE_STATUS_PENDING = 3;
constexpr ISAPI_DWORD HSE_STATUS_ERROR = 4;

// Requests of ServerSupportFunction.
constexpr ISAPI_DWORD HSE_REQ_BASE = 0;
constexpr ISAPI_DWORD HSE_REQ_SEND_URL_REDIRECT_RESP = 1;
constexpr ISAPI_DWORD HSE_REQ_SEND_URL = 2;
constexpr ISAPI_DWORD HSE_REQ_SEND_RESPONSE_HEADER = 3;
constexpr ISAPI_DWORD HSE_REQ_DONE_WITH_SESSION = 4;

// Flags of TerminateExtension.
constexpr ISAPI_DWORD HSE_TERM_ADVISORY_UNLOAD = 0x00000001;
constexpr ISAPI_DWORD HSE_TERM_MUST_UNLOAD = 0x00000002;

// Flags of WriteClient.
constexpr ISAPI_DWORD HSE_IO_SYNC = 0x00000001;
constexpr ISAPI_DWORD HSE_IO_ASYNC = 0x00000002;

struct HSE_VERSION_INFO {
    ISAPI_DWORD dwExtensionVersion;
    char lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN];
};

struct EXTENSION_CONTROL_BLOCK {
    ISAPI_DWORD cbSize;
    ISAPI_DWORD dwVersion;
    HCONN ConnID;
    ISAPI_DWORD dwHttpStatusCode;
    char lpszLogData[HSE_LOG_BUFFER_LEN];
    char* lpszMethod;
    char* lpszQueryString;
    char* lpszPathInfo;
    char* lpszPathTranslated;
    ISAPI_DWORD cbTotalBytes;
    ISAPI_DWORD cbAvailable;
    std::uint8_t* lpbData;
    char* lpszContentType;
    ISAPI_BOOL (*GetServerVariable)(HCONN hConn, char* lpszVariableName, void* lpvBuffer, ISAPI_DWORD* lpdwSize);
    ISAPI_BOOL (*WriteClient)(HCONN ConnID, void* Buffer, ISAPI_DWORD* lpdwBytes, ISAPI_DWORD dwReserved);
    ISAPI_BOOL (*ReadClient)(HCONN ConnID, void* lpvBuffer, ISAPI_DWORD* lpdwSize);
    ISAPI_BOOL (*ServerSupportFunction)(HCONN hConn, ISAPI_DWORD dwHSERequest, void* lpvBuffer, ISAPI_DWORD* lpdwSize,
                                        ISAPI_DWORD* lpdwDataType);
};

// Filters.
constexpr ISAPI_DWORD HTTP_FILTER_REVISION = 0x00020000;
constexpr std::size_t SF_MAX_FILTER_DESC_LEN = 256 + 1;

// Results of HttpFilterProc.
constexpr std::int32_t SF_STATUS_REQ_FINISHED = 0x08000000;
constexpr std::int32_t SF_STATUS_REQ_FINISHED_KEEP_CONN = 0x08000001;
constexpr std::int32_t SF_STATUS_REQ_NEXT_NOTIFICATION = 0x08000002;
constexpr std::int32_t SF_STATUS_REQ_HANDLED_NOTIFICATION = 0x08000003;
constexpr std::int32_t SF_STATUS_REQ_ERROR = 0x08000004;
constexpr std::int32_t SF_STATUS_REQ_READ_NEXT = 0x08000005;

// Notification kinds a filter asks for in dwFlags.
constexpr ISAPI_DWORD SF_NOTIFY_SECURE_PORT = 0x00000001;
constexpr ISAPI_DWORD SF_NOTIFY_NONSECURE_PORT = 0x00000002;
constexpr ISAPI_DWORD SF_NOTIFY_READ_RAW_DATA = 0x00008000;
constexpr ISAPI_DWORD SF_NOTIFY_PREPROC_HEADERS = 0x00004000;
constexpr ISAPI_DWORD SF_NOTIFY_AUTHENTICATION = 0x00002000;
constexpr ISAPI_DWORD SF_NOTIFY_URL_MAP = 0x00001000;
constexpr ISAPI_DWORD SF_NOTIFY_ACCESS_DENIED = 0x00000800;
constexpr ISAPI_DWORD SF_NOTIFY_SEND_RESPONSE = 0x00000040;
constexpr ISAPI_DWORD SF_NOTIFY_SEND_RAW_DATA = 0x00000400;
constexpr ISAPI_DWORD SF_NOTIFY_LOG = 0x00000200;
constexpr ISAPI_DWORD SF_NOTIFY_END_OF_REQUEST = 0x00000080;
constexpr ISAPI_DWORD SF_NOTIFY_END_OF_NET_SESSION = 0x00000100;

struct HTTP_FILTER_VERSION {
    ISAPI_DWORD dwServerFilterVersion;
    ISAPI_DWORD dwFilterVersion;
    char lpszFilterDesc[SF_MAX_FILTER_DESC_LEN];
    ISAPI_DWORD dwFlags;
};

// Named THTTP_FILTER_CONTEXT because the gateway's event types refer to it
// by that name; HTTP_FILTER_CONTEXT is the interface's own.
struct THTTP_FILTER_CONTEXT {
    ISAPI_DWORD cbSize;
    ISAPI_DWORD Revision;
    void* ServerContext;
    ISAPI_DWORD ulReserved;
    ISAPI_BOOL fIsSecurePort;
    void* pFilterContext;
    ISAPI_BOOL (*GetServerVariable)(THTTP_FILTER_CONTEXT* pfc, char* lpszVariableName, void* lpvBuffer,
                                    ISAPI_DWORD* lpdwSize);
    ISAPI_BOOL (*AddResponseHeaders)(THTTP_FILTER_CONTEXT* pfc, char* lpszHeaders, ISAPI_DWORD dwReserved);
    ISAPI_BOOL (*WriteClient)(THTTP_FILTER_CONTEXT* pfc, void* Buffer, ISAPI_DWORD* lpdwBytes, ISAPI_DWORD dwReserved);
    void* (*AllocMem)(THTTP_FILTER_CONTEXT* pfc, ISAPI_DWORD cbSize, ISAPI_DWORD dwReserved);
    ISAPI_BOOL (*ServerSupportFunction)(THTTP_FILTER_CONTEXT* pfc, std::int32_t sfReq, void* pData,
                                        std::uintptr_t ul1, std::uintptr_t ul2);
};
using HTTP_FILTER_CONTEXT = THTTP_FILTER_CONTEXT;

struct HTTP_FILTER_RAW_DATA {
    void* pvInData;
    ISAPI_DWORD cbInData;
    ISAPI_DWORD cbInBuffer;
    ISAPI_DWORD dwReserved;
};

// The five entry points a loadable extension exports with C linkage, as the
// host looks them up by name.
extern "C" {
using PFN_GETEXTENSIONVERSION = ISAPI_BOOL (*)(HSE_VERSION_INFO* pVer);
using PFN_HTTPEXTENSIONPROC = ISAPI_DWORD (*)(EXTENSION_CONTROL_BLOCK* pECB);
using PFN_TERMINATEEXTENSION = ISAPI_BOOL (*)(ISAPI_DWORD dwFlags);
using PFN_GETFILTERVERSION = ISAPI_BOOL (*)(HTTP_FILTER_VERSION* pVer);
using PFN_HTTPFILTERPROC = ISAPI_DWORD (*)(HTTP_FILTER_CONTEXT* pfc, ISAPI_DWORD NotificationType,
                                          void* pvNotification);
}

// The layout on a 64-bit platform, as the published interface gives it.
static_assert(sizeof(void*) != 8 || sizeof(EXTENSION_CONTROL_BLOCK) == 192, "control block layout");
static_assert(sizeof(void*) != 8 || offsetof(EXTENSION_CONTROL_BLOCK, lpszMethod) == 104, "control block layout");
static_assert(sizeof(void*) != 8 || offsetof(EXTENSION_CONTROL_BLOCK, cbTotalBytes) == 136, "control block layout");
static_assert(sizeof(HSE_VERSION_INFO) == 260, "version info layout");
static_assert(sizeof(HTTP_FILTER_VERSION) == 272, "filter version layout");
static_assert(sizeof(void*) != 8 || sizeof(HTTP_FILTER_CONTEXT) == 72, "filter context layout");
