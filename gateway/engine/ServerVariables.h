#pragma once
// Server-variable look-up by name: case-insensitive, "-" and blank alike
// with "_", and a fixed table of aliases so that an application written
// against one server's variable names runs behind another.
#include <functional>
#include <string>
#include <string_view>

#include "platform/StringList.h"

// The front end's answer for a single variable (RawServerVariable).
using TRawVariableSource = std::function<std::string(const std::string& name)>;

// Name upper-cased, every "-" and blank replaced by "_".
std::string ServerVariableKey(std::string_view name);

// The value of the variable name from list (NAME=value lines), or "".
// Without a list, and for a name that is absent and not an alias, raw is
// asked with the caller's name unchanged. An absent alias is answered from
// its group, in the group's order, and raw is not asked, except that the
// credentials groups fall back to the decoded HTTP_AUTHORIZATION (looked up
// by this same procedure).
std::string LookUpServerVariable(const TStringList* list, const std::string& name, const TRawVariableSource& raw);
