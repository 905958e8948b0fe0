#include "sysutil/Desktop.h"

IDesktop* IDesktop::Instance() {
    return nullptr;
}
