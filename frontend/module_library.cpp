// dlopen-based module loading, the interface version check, and where the
// module built with hux-run lies.
#include "module_library.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

namespace huxrun {

namespace {

// MODULE is a path: a bare file name means the one in the current directory,
// not one found along the loader's library search path.
std::string asPath(const std::string& path) {
    return path.find('/') == std::string::npos ? "./" + path : path;
}

}  // namespace

std::string moduleBesideProgram(const std::string& relative) {
    std::vector<char> path(4096);
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || static_cast<std::size_t>(n) == path.size())
        throw std::runtime_error(
            "cannot find the module beside hux-run: its own path is unreadable");
    const std::string program(path.data(), static_cast<std::size_t>(n));
    return program.substr(0, program.rfind('/') + 1) + relative;
}

ModuleLibrary::ModuleLibrary(const std::string& path)
    : handle_(dlopen(asPath(path).c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ != nullptr) return;
    const char* reason = dlerror();
    throw std::runtime_error("cannot load module: " + std::string(reason ? reason : path));
}

ModuleLibrary::~ModuleLibrary() { dlclose(handle_); }

void* ModuleLibrary::symbol(const char* name) const { return dlsym(handle_, name); }

HuxFunction checkedEntryPoint(const ModuleLibrary& module, const std::string& path) {
    auto query = reinterpret_cast<VersionQuery>(module.symbol("huxfilerequiredapiversion"));
    if (query == nullptr)
        throw std::runtime_error(path + ": not a module: it exports no huxfilerequiredapiversion");
    std::int32_t release = 0;
    std::int32_t interfaceVersion = 0;
    query(&release, &interfaceVersion);
    if (interfaceVersion != kHostArrayInterface) {
        char text[160];
        std::snprintf(
            text, sizeof text, ": module needs array interface 0x%08x; this host provides 0x%08x",
            static_cast<unsigned>(interfaceVersion), static_cast<unsigned>(kHostArrayInterface));
        throw std::runtime_error(path + text);
    }
    auto entry = reinterpret_cast<HuxFunction>(module.symbol("huxFunction"));
    if (entry == nullptr)
        throw std::runtime_error(path + ": not a module: it exports no huxFunction");
    return entry;
}

}  // namespace huxrun
