#include "gateway/engine/ServerVariables.h"

#include <array>
#include <initializer_list>

#include "gateway/engine/UrlEncoded.h"
#include "platform/SysUtils.h"

namespace {
struct TAliasGroup {
    std::initializer_list<const char*> Keys;
    std::initializer_list<const char*> Tried;  // in this order
};

// The spelling "AUTHETICATION_METHOD" is the one servers were written against.
const std::array<TAliasGroup, 14> AliasGroups = {{
    {{"EXECUTABLE_PATH", "SCRIPT_NAME", "URL", "URI", "HTTP_URL"},
     {"SCRIPT_NAME", "EXECUTABLE_PATH", "URL", "HTTP_URL", "URI"}},
    {{"QUERY_STRING", "QUERY"}, {"QUERY_STRING", "QUERY"}},
    {{"SERVER_SOFTWARE", "SERVER_NAME"}, {"SERVER_SOFTWARE", "SERVER_NAME"}},
    {{"REMOTE_ADDR", "REMOTE_ADDRESS", "IP"}, {"REMOTE_ADDR", "REMOTE_ADDRESS", "IP"}},
    {{"REQUEST_METHOD", "METHOD"}, {"REQUEST_METHOD", "METHOD"}},
    {{"REMOTE_HOST", "HOST", "DNS"}, {"REMOTE_HOST", "HOST", "DNS"}},
    {{"AUTH_TYPE", "AUTHETICATION_METHOD"}, {"AUTH_TYPE", "AUTHETICATION_METHOD"}},
    {{"HTTP_USER_AGENT", "USER_AGENT"}, {"USER_AGENT", "HTTP_USER_AGENT"}},
    {{"HTTP_REFERER", "REFERER"}, {"REFERER", "HTTP_REFERER"}},
    {{"SERVER_PROTOCOL", "REQUEST_PROTOCOL", "PROTOCOL"}, {"SERVER_PROTOCOL", "REQUEST_PROTOCOL", "PROTOCOL"}},
    {{"HTTP_COOKIE", "COOKIE"}, {"HTTP_COOKIE", "COOKIE"}},
    {{"DOCUMENT_ROOT", "PATH_TRANSLATED", "PATH"}, {"DOCUMENT_ROOT", "PATH_TRANSLATED", "PATH"}},
    {{"AUTH_USER", "AUTHENTICATED_USERNAME"}, {"AUTH_USER", "AUTHENTICATED_USERNAME"}},
    {{"AUTH_PASSWORD", "AUTHENTICATED_PASSWORD"}, {"AUTH_PASSWORD", "AUTHENTICATED_PASSWORD"}},
}};
constexpr std::size_t UserGroup = 12;
constexpr std::size_t PasswordGroup = 13;

const TAliasGroup* GroupOf(const std::string& key, std::size_t& index) {
    for (index = 0; index < AliasGroups.size(); ++index)
        for (const char* member : AliasGroups[index].Keys)
            if (key == member) return &AliasGroups[index];
    return nullptr;
}

std::string FromGroup(const TStringList& list, const TAliasGroup& group) {
    for (const char* name : group.Tried) {
        std::string value = list.Values(name);
        if (!value.empty()) return value;
    }
    return {};
}
}  // namespace

std::string ServerVariableKey(std::string_view name) {
    std::string key = UpperCase(name);
    for (char& ch : key)
        if (ch == '-' || ch == ' ') ch = '_';
    return key;
}

std::string LookUpServerVariable(const TStringList* list, const std::string& name, const TRawVariableSource& raw) {
    // Without a list the front end answers every name.
    const std::string key = ServerVariableKey(name);
    if (list == nullptr) return raw ? raw(name) : std::string();
    // The direct look-up comes first.
    std::string value = list->Values(key);
    if (!value.empty()) return value;
    // An absent alias is answered from its group.
    std::size_t index = 0;
    const TAliasGroup* group = GroupOf(key, index);
    if (group == nullptr) return raw ? raw(name) : std::string();
    value = FromGroup(*list, *group);
    if (!value.empty() || (index != UserGroup && index != PasswordGroup)) return value;
    std::string user;
    std::string password;
    DecodeBasicAuth(LookUpServerVariable(list, "HTTP_AUTHORIZATION", raw), user, password);
    return index == UserGroup ? user : password;
}
