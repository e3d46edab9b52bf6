// The stream over the calling thread's extension control block: request
// body in, response bytes out.
#include <algorithm>
#include <cstring>

#include "gateway/engine/Limits.h"
#include "gateway/frontends/IsapiEng.h"

TIsapiStream::~TIsapiStream() {
    if (IsapiThread.Stream == this) IsapiThread.Stream = nullptr;
}

int TIsapiStream::Read(void* buffer, int count) {
    EXTENSION_CONTROL_BLOCK* ecb = IsapiThread.Ecb;
    if (ecb == nullptr) return -1;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    int delivered = 0;
    // The body bytes the server read ahead, as far as they go.
    if (ecb->lpbData != nullptr && count > 0 && PreloadPos < ecb->cbAvailable) {
        const auto left = static_cast<std::uint32_t>(ecb->cbAvailable - PreloadPos);
        const int take = static_cast<int>(std::min<std::uint32_t>(left, static_cast<std::uint32_t>(count)));
        std::memcpy(bytes, ecb->lpbData + PreloadPos, static_cast<std::size_t>(take));
        PreloadPos += static_cast<std::uint32_t>(take);
        delivered = take;
    }
    // The rest from the client, one bounded piece per call.
    while (delivered < count) {
        if (ecb->ReadClient == nullptr) return -1;
        const int wanted = std::min(count - delivered, IsapiLimits::ReadPieceMax);
        auto size = static_cast<ISAPI_DWORD>(wanted);
        if (ecb->ReadClient(ecb->ConnID, bytes + delivered, &size) == ISAPI_FALSE || size == 0) return -1;
        // A server that claims more than it was offered is held to the offer.
        delivered += static_cast<int>(std::min<ISAPI_DWORD>(size, static_cast<ISAPI_DWORD>(wanted)));
    }
    return delivered;
}

int TIsapiStream::Write(const void* buffer, int count) {
    EXTENSION_CONTROL_BLOCK* ecb = IsapiThread.Ecb;
    if (ecb == nullptr || ecb->WriteClient == nullptr || count <= 0) return 0;
    auto size = static_cast<ISAPI_DWORD>(count);
    // Synchronous; the call's own result is not looked at.
    static_cast<void>(ecb->WriteClient(ecb->ConnID, const_cast<void*>(buffer), &size, 0));
    return static_cast<int>(size);
}

std::int64_t TIsapiStream::Seek(std::int64_t, int) { return 0; }
