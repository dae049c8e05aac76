// A system library opened at its first use instead of linked: what a start may never need (sound,
// password checks, HTTP) then costs it neither loading nor relocation.
#pragma once

#include <dlfcn.h>

namespace tovami::linux_backend {

class SharedLibrary {
 public:
  enum class Lookup {
    own,     // symbols come from this library alone
    global,  // its symbols join the program's and are looked up there, so a library preloaded in
             // front of it (a test's stand-in PAM) still answers first
  };

  explicit SharedLibrary(const char* soname, Lookup lookup = Lookup::own)
      : handle_(::dlopen(soname, RTLD_NOW | (lookup == Lookup::global ? RTLD_GLOBAL : RTLD_LOCAL))),
        lookup_(lookup) {}
  // Never closed: what is resolved from it is used for the program's life.

  bool loaded() const { return handle_ != nullptr; }

  template <typename Function>
  bool resolve(const char* name, Function& function) const {
    if (!handle_) return false;
    function = reinterpret_cast<Function>(::dlsym(lookup_ == Lookup::global ? RTLD_DEFAULT : handle_, name));
    return function != nullptr;
  }

 private:
  void* handle_;
  Lookup lookup_;
};

}  // namespace tovami::linux_backend
