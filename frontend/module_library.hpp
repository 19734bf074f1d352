// A module loaded with dlopen: the handle is owned here and closed on every
// way out; the two entry points are looked up and the interface checked.
#pragma once

#include "vorn/array_api.hpp"

#include <cstdint>
#include <string>

namespace huxrun {

// The version of the array interface this host provides.
constexpr std::int32_t kHostArrayInterface = 0x07300000;

using HuxFunction = void (*)(int, vornArray**, int, const vornArray**);
using VersionQuery = void (*)(std::int32_t*, std::int32_t*);

class ModuleLibrary {
public:
    // Loads with RTLD_NOW | RTLD_LOCAL; throws std::runtime_error with the
    // loader's reason when that fails.
    explicit ModuleLibrary(const std::string& path);
    ~ModuleLibrary();
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    // The symbol's address, or null when the module does not export it.
    void* symbol(const char* name) const;

private:
    void* handle_;
};

// The module built together with the running program: `relative` (such as
// "../lib/rowmetric.so") taken from the program's own directory, so that it
// is found from any working directory. Throws std::runtime_error when the
// program's path cannot be read.
std::string moduleBesideProgram(const std::string& relative);

// Asks the module which array interface it needs and returns its entry
// point. Throws std::runtime_error, with one line naming `path`, when either
// export is missing or the interface is not kHostArrayInterface.
HuxFunction checkedEntryPoint(const ModuleLibrary& module, const std::string& path);

}  // namespace huxrun
