#pragma once

// Error codes shared by several subsystems. Codes that belong to one module
// only (file system, HTTP client, HTTP server) are declared beside it. The
// values travel on the wire and reach callers, so they never change.

// Generic codes.

// The implementation does not support the operation: it refuses outright (ping,
// self parameters, system options, device self-test, uploads), or cannot carry
// it out here (a software update whose program path has no folder).
inline constexpr unsigned long kErrorNotSupported = 2;
// Random numbers could not be produced: no buffer, or the source failed.
inline constexpr unsigned long kErrorRandomFailed = 3;
// The desktop has nothing to report; the HTTP client also keeps it as its
// working result while it is still waiting.
inline constexpr unsigned long kErrorNothingHappened = 5;

// Communication codes.

// A serial port cannot be opened, or a socket connect was refused or hit an
// exceptional condition while connecting.
inline constexpr unsigned long kErrorCannotConnect = 20001;
// An established or listening connection broke: the peer closed, an
// exceptional condition was seen, or the serial line refused output.
inline constexpr unsigned long kErrorConnectionBroken = 20003;
// A socket send or receive failed.
inline constexpr unsigned long kErrorTransferFailed = 20004;
// A socket cannot be created for an outgoing call.
inline constexpr unsigned long kErrorCannotCreateSocket = 20006;
// A listening socket cannot be created, bound or set listening.
inline constexpr unsigned long kErrorCannotListen = 20008;
// The host name resolved to no address.
inline constexpr unsigned long kErrorNoHostAddress = 20010;
// No network interface to make the connection: none of the kind exists, or
// the tunnel is not up.
inline constexpr unsigned long kErrorNoNetworkInterface = 20011;
// A network interface did not come up within its time-out.
inline constexpr unsigned long kErrorInterfaceTimeout = 20012;
// A network interface failed to come up, e.g. the tunnel's serial port cannot
// be opened or nobody answers on it.
inline constexpr unsigned long kErrorInterfaceFailed = 20025;
// A connection has not been established: a tunnelled call has no result from
// the other end, or a connect did not finish within its time-out.
inline constexpr unsigned long kErrorNotConnected = 20027;
// A connection failed without an error of its own.
inline constexpr unsigned long kErrorConnectFailed = 20028;
