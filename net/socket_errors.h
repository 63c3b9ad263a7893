// The socket seam's error numbers: Winsock's, by name, on both builds. Windows gets them
// from Winsock itself and checks at compile time that every one here is Winsock's own; the
// host build maps each platform error to one of them. So a Connect log line that shows an
// error code reads the same whichever build wrote it, and a host test asserts the number a
// Windows user would see.
#pragma once

constexpr int kSocketErrorInterrupted = 10004;
constexpr int kSocketErrorAccess = 10013;
constexpr int kSocketErrorFault = 10014;
constexpr int kSocketErrorInvalid = 10022;
constexpr int kSocketErrorTooManyOpen = 10024;
constexpr int kSocketErrorWouldBlock = 10035;
constexpr int kSocketErrorInProgress = 10036;
constexpr int kSocketErrorAlready = 10037;
constexpr int kSocketErrorNotSocket = 10038;
constexpr int kSocketErrorMessageSize = 10040;
constexpr int kSocketErrorNotSupported = 10045;
constexpr int kSocketErrorFamilyNotSupported = 10047;
constexpr int kSocketErrorAddressInUse = 10048;
constexpr int kSocketErrorAddressNotAvailable = 10049;
constexpr int kSocketErrorNetworkDown = 10050;
constexpr int kSocketErrorNetworkUnreachable = 10051;
constexpr int kSocketErrorConnectionAborted = 10053;
constexpr int kSocketErrorConnectionReset = 10054;
constexpr int kSocketErrorNoBuffers = 10055;
constexpr int kSocketErrorIsConnected = 10056;
constexpr int kSocketErrorNotConnected = 10057;
constexpr int kSocketErrorTimedOut = 10060;
constexpr int kSocketErrorRefused = 10061;
constexpr int kSocketErrorHostUnreachable = 10065;
constexpr int kSocketErrorNotStarted = 10093;
// The name look-ups' own.
constexpr int kSocketErrorHostNotFound = 11001;
constexpr int kSocketErrorTryAgain = 11002;
constexpr int kSocketErrorNoRecovery = 11003;
constexpr int kSocketErrorNoData = 11004;
