#pragma once

#include <fcntl.h>
#include <unistd.h>

#include "platform/Descriptor.h"

// Both ends of a pipe made for a test, each closed with its owner and never inherited by a
// child; both empty when the pipe could not be made.
struct TPipe {
    TPipe() {
        int ends[2] = {-1, -1};
        if (pipe2(ends, O_CLOEXEC) == 0) {
            readEnd.Reset(ends[0]);
            writeEnd.Reset(ends[1]);
        }
    }

    TDescriptor readEnd;
    TDescriptor writeEnd;
};
