// Preloaded into tesmar, it stands in for a machine without libedit: libedit.so.2 is looked for
// where no library is, and the loader says why it is missing as it would on such a machine.
#include <dlfcn.h>
#include <cstring>

extern "C" void* dlopen(const char* file, int mode) {
    using Open = void* (*)(const char*, int);
    static const Open next_open = reinterpret_cast<Open>(::dlsym(RTLD_NEXT, "dlopen"));
    const bool hidden = file != nullptr && std::strcmp(file, "libedit.so.2") == 0;
    return next_open(hidden ? "/hidden/libedit.so.2" : file, mode);
}
