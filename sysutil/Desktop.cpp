#include "sysutil/Desktop.h"

#include <utility>

namespace {

// This platform has no desktop of its own; only tests install one.
IDesktop* installedDesktop = nullptr;

}  // namespace

IDesktop* IDesktop::Instance() {
    return installedDesktop;
}

IDesktop* IDesktop::Install(IDesktop* replacement) {
    return std::exchange(installedDesktop, replacement);
}
