// Basic credentials over arbitrary bytes: user and password are set together
// or not at all, come trimmed, the user holds no ":", the password stays
// within its bound; and credentials encoded here decode to their parts.
#include <cstddef>
#include <cstdint>
#include <string>

#include "gateway/engine/UrlEncoded.h"
#include "platform/SysUtils.h"

namespace {
std::string Base64(const std::string& text) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 3) {
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = group << 8 | (i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0u);
        const std::size_t present = std::min<std::size_t>(3, text.size() - i);
        for (std::size_t k = 0; k < 4; ++k) out += k <= present ? digits[(group >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

bool Trimmed(const std::string& s) { return s == Trim(s); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string sentinel = "\x01unset";  // no trimmed result can equal it

    std::string user = sentinel;
    std::string password = sentinel;
    DecodeBasicAuth(bytes, user, password);
    if ((user == sentinel) != (password == sentinel)) __builtin_trap();
    if (user != sentinel) {
        if (!Trimmed(user) || !Trimmed(password)) __builtin_trap();
        if (user.find(':') != std::string::npos || password.size() > 1032) __builtin_trap();
    }

    // The input as a user (up to its first ":", which a user cannot hold)
    // and a password, encoded and decoded again; only credentials whose
    // encoded form fits the 1032-character bound come back whole.
    const std::string plainUser = bytes.substr(0, std::min(bytes.find(':'), bytes.size() / 2));
    const std::string plainPassword = bytes.substr(plainUser.size());
    if (plainUser.size() + 1 + plainPassword.size() <= 770) {
        std::string u;
        std::string p;
        DecodeBasicAuth("Basic " + Base64(plainUser + ":" + plainPassword), u, p);
        if (u != Trim(plainUser) || p != Trim(plainPassword)) __builtin_trap();
    }
    return 0;
}
