// The server-variable look-up over arbitrary variable lists and names: a
// name present with a value is found as it stands; otherwise the answer is
// empty, a value from the list, the front end's, or a credential part; and
// building the key twice changes nothing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "gateway/engine/ServerVariables.h"
#include "platform/StringList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    // First line: the name asked for; the others: the variable list.
    const std::size_t cut = bytes.find('\n');
    const std::string name = bytes.substr(0, cut);
    TStringList list(/*sorted=*/true);
    if (cut != std::string::npos) list.SetText(bytes.substr(cut + 1));

    const std::string key = ServerVariableKey(name);
    if (ServerVariableKey(key) != key) __builtin_trap();

    int rawCalls = 0;
    const TRawVariableSource raw = [&](const std::string& asked) {
        ++rawCalls;
        return "raw:" + asked;
    };
    const std::string value = LookUpServerVariable(&list, name, raw);
    if (rawCalls > 1) __builtin_trap();

    const std::string direct = list.Values(key);
    if (!direct.empty() && value != direct) __builtin_trap();
    if (direct.empty() && !value.empty() && value != "raw:" + name && value != "raw:HTTP_AUTHORIZATION") {
        bool fromList = false;
        for (int i = 0; i < list.Count() && !fromList; ++i) fromList = list.ValueFromIndex(i) == value;
        const bool credential = key == "AUTH_USER" || key == "AUTHENTICATED_USERNAME" || key == "AUTH_PASSWORD" ||
                                key == "AUTHENTICATED_PASSWORD";
        if (!fromList && !credential) __builtin_trap();
    }
    if (LookUpServerVariable(nullptr, name, raw) != "raw:" + name) __builtin_trap();
    return 0;
}
