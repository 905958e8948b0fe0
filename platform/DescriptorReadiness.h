#pragma once

// Readiness of one descriptor, with the meanings of the classic readable,
// writable and exceptional sets: a hang-up or error counts as readable, an
// error as writable, and only urgent data as exceptional. Built on poll(),
// so any descriptor number works.
struct TDescriptorReadiness {
    bool readable = false;
    bool writable = false;
    bool exceptional = false;
};

enum ReadinessInterest : unsigned {
    READINESS_READABLE = 1,
    READINESS_WRITABLE = 2,
    READINESS_EXCEPTIONAL = 4,
    READINESS_ANY = READINESS_READABLE | READINESS_WRITABLE | READINESS_EXCEPTIONAL,
};

// Waits at most timeoutMs (0: just looks) until the descriptor is ready in
// one of the interests; only those are reported. Nothing is reported when
// the wait ends empty or fails.
TDescriptorReadiness PollDescriptor(int fd, unsigned interests, int timeoutMs);

// 1 if the descriptor reports an exceptional condition right now, else 0.
int IsSocketWithErrors(int fd);

// 1 if the descriptor becomes writable within 3 seconds, else 0.
int WaitSocketReadyForWriting(int fd);
