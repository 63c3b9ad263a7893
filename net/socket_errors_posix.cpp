// The host build's half of the error table (net/socket_errors.h): the platform's error
// numbers, and the name look-ups' results, as the Winsock numbers the seam reports.
#include <netdb.h>

#include <cerrno>

#include "net/socket_loop_posix.h"

namespace {

thread_local int last_error = 0;

struct ErrorPair {
    int posix;
    int winsock;
};

constexpr ErrorPair kWinsockErrors[] = {
    {EINTR, kSocketErrorInterrupted},
    {EACCES, kSocketErrorAccess},
    {EFAULT, kSocketErrorFault},
    {EINVAL, kSocketErrorInvalid},
    {EMFILE, kSocketErrorTooManyOpen},
    {ENFILE, kSocketErrorTooManyOpen},
    {EAGAIN, kSocketErrorWouldBlock},
    {EWOULDBLOCK, kSocketErrorWouldBlock},
    {EINPROGRESS, kSocketErrorInProgress},
    {EALREADY, kSocketErrorAlready},
    {EBADF, kSocketErrorNotSocket},
    {ENOTSOCK, kSocketErrorNotSocket},
    {EMSGSIZE, kSocketErrorMessageSize},
    {EOPNOTSUPP, kSocketErrorNotSupported},
    {EAFNOSUPPORT, kSocketErrorFamilyNotSupported},
    {EADDRINUSE, kSocketErrorAddressInUse},
    {EADDRNOTAVAIL, kSocketErrorAddressNotAvailable},
    {ENETDOWN, kSocketErrorNetworkDown},
    {ENETUNREACH, kSocketErrorNetworkUnreachable},
    {ECONNABORTED, kSocketErrorConnectionAborted},
    {ECONNRESET, kSocketErrorConnectionReset},
    {EPIPE, kSocketErrorConnectionReset},
    {ENOBUFS, kSocketErrorNoBuffers},
    {EISCONN, kSocketErrorIsConnected},
    {ENOTCONN, kSocketErrorNotConnected},
    {ETIMEDOUT, kSocketErrorTimedOut},
    {ECONNREFUSED, kSocketErrorRefused},
    {EHOSTUNREACH, kSocketErrorHostUnreachable},
};

}  // namespace

namespace socket_posix {

int WinsockError(int posix_error) {
    for (const ErrorPair& pair : kWinsockErrors) {
        if (pair.posix == posix_error) {
            return pair.winsock;
        }
    }
    // No Winsock counterpart: the platform's own number, which cannot be mistaken for one
    // of the 10000-range codes.
    return posix_error;
}

int LookupError(int result) {
    switch (result) {
        case EAI_NONAME:
            return kSocketErrorHostNotFound;
#ifdef EAI_NODATA
        case EAI_NODATA:
            return kSocketErrorNoData;
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY:
            return kSocketErrorNoData;
#endif
        case EAI_AGAIN:
            return kSocketErrorTryAgain;
        default:
            return kSocketErrorNoRecovery;
    }
}

int Fail(int winsock_error) {
    last_error = winsock_error;
    return kSocketError;
}

}  // namespace socket_posix

int SocketLastError() {
    return last_error;
}
