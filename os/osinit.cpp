#include "os/linos.h"
#include "os/os.h"

namespace {
OS* createLinux() { return new LinOS(); }
void destroyLinux(OS* os) { delete static_cast<LinOS*>(os); }

OsCreateFn hostCreate = createLinux;
OsDestroyFn hostDestroy = destroyLinux;
}  // namespace

OS* osInit() { return hostCreate(); }

void osDestroy(OS* os) {
    if (os != nullptr) {
        hostDestroy(os);
    }
}

void osSetHost(OsCreateFn create, OsDestroyFn destroy) {
    if (create == nullptr || destroy == nullptr) {
        hostCreate = createLinux;
        hostDestroy = destroyLinux;
    } else {
        hostCreate = create;
        hostDestroy = destroy;
    }
}
