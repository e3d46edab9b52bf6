#include "host/Extension.h"

#include <dlfcn.h>

#include <cstring>

namespace {
template <class T>
bool Resolve(void* handle, const char* name, T& entry, std::string& error) {
    dlerror();
    void* symbol = dlsym(handle, name);
    if (symbol == nullptr) {
        const char* why = dlerror();
        error = std::string("the extension does not export ") + name + (why ? std::string(": ") + why : "");
        return false;
    }
    entry = reinterpret_cast<T>(symbol);
    return true;
}
}  // namespace

bool LoadExtension(const std::string& path, TExtension& extension, std::string& error) {
    // dlopen searches the library path for a name without a separator.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    extension.Handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (extension.Handle == nullptr) {
        const char* why = dlerror();
        error = "cannot load " + path + ": " + (why ? why : "unknown error");
        return false;
    }
    if (!Resolve(extension.Handle, "GetExtensionVersion", extension.GetExtensionVersion, error) ||
        !Resolve(extension.Handle, "HttpExtensionProc", extension.HttpExtensionProc, error) ||
        !Resolve(extension.Handle, "TerminateExtension", extension.TerminateExtension, error) ||
        !Resolve(extension.Handle, "GetFilterVersion", extension.GetFilterVersion, error) ||
        !Resolve(extension.Handle, "HttpFilterProc", extension.HttpFilterProc, error))
        return false;
    HSE_VERSION_INFO version{};
    if (extension.GetExtensionVersion(&version) == ISAPI_FALSE) {
        error = "GetExtensionVersion of " + path + " returned FALSE: the extension refuses to load";
        return false;
    }
    extension.Description.assign(version.lpszExtensionDesc,
                                 strnlen(version.lpszExtensionDesc, sizeof version.lpszExtensionDesc));
    return true;
}
