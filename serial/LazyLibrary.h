// SPDX-License-Identifier: GPL-3.0-or-later
// A C library loaded at its first use instead of at start-up, for the ones
// that a panel on a local port may never need (network ports, discovery).
#pragma once

#include <dlfcn.h>
#include <initializer_list>
#include <vector>

namespace vantrel {

class LazyLibrary {
public:
    // Loads each shared object by its soname; all of them must load.
    explicit LazyLibrary(std::initializer_list<const char*> sonames) {
        for (const char* name : sonames) {
            void* handle = dlopen(name, RTLD_NOW | RTLD_GLOBAL);
            loaded_ = loaded_ && handle;
            handles_.push_back(handle);
        }
    }
    // Sets `function` to the symbol `name` of any of the objects; false when none has it.
    template <typename F>
    bool Resolve(F*& function, const char* name) {
        function = nullptr;
        for (void* handle : handles_)
            if (void* symbol = handle ? dlsym(handle, name) : nullptr) function = reinterpret_cast<F*>(symbol);
        loaded_ = loaded_ && function;
        return function;
    }
    // True when every object loaded and every symbol asked for was found.
    bool Loaded() const { return loaded_; }

private:
    std::vector<void*> handles_;
    bool loaded_ = true;
};

}  // namespace vantrel

// Declares the struct `Name` with one function pointer for each entry of
// FUNCTIONS (a list macro: FUNCTIONS(X) expands X(name) per function), and
// `Name& Name::Get()`, which loads the libraries (the sonames after FUNCTIONS)
// at its first call. `loaded` is true when every function was found.
#define VANTREL_LAZY_MEMBER(name) decltype(&::name) name = nullptr;
#define VANTREL_LAZY_RESOLVE(name) library.Resolve(l.name, #name);
#define VANTREL_LAZY_FUNCTIONS(Name, FUNCTIONS, ...)                  \
    struct Name {                                                     \
        FUNCTIONS(VANTREL_LAZY_MEMBER)                                \
        bool loaded = false;                                          \
        static const Name& Get() {                                    \
            static const Name lib = [] {                              \
                Name l;                                               \
                ::vantrel::LazyLibrary library{__VA_ARGS__};          \
                FUNCTIONS(VANTREL_LAZY_RESOLVE)                       \
                l.loaded = library.Loaded();                          \
                return l;                                             \
            }();                                                      \
            return lib;                                               \
        }                                                             \
    };
