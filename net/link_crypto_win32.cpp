// The link key's HMAC and random source from CNG, Windows' own provider, so that the program
// needs no DLL beyond the system's.
#include <windows.h>

#include <bcrypt.h>

#include <limits>

#include "net/link_crypto.h"

namespace {

bool FitsUlong(std::size_t size) {
    return size <= std::numeric_limits<ULONG>::max();
}

// The hash object of an open HMAC provider, keyed; every handle it opens is closed before it
// returns.
bool HashWithProvider(BCRYPT_ALG_HANDLE provider, const uint8_t* key, std::size_t key_size,
                      const uint8_t* message, std::size_t message_size, Sha256Mac* mac) {
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, nullptr, 0, const_cast<PUCHAR>(key),
                                         static_cast<ULONG>(key_size), 0))) {
        return false;
    }
    const bool done =
        BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(message),
                                      static_cast<ULONG>(message_size), 0)) &&
        BCRYPT_SUCCESS(BCryptFinishHash(hash, mac->data(), static_cast<ULONG>(mac->size()), 0));
    BCryptDestroyHash(hash);
    return done;
}

}  // namespace

bool HmacSha256(const uint8_t* key, std::size_t key_size, const uint8_t* message,
                std::size_t message_size, Sha256Mac* mac) {
    if (!FitsUlong(key_size) || !FitsUlong(message_size)) {
        return false;
    }
    BCRYPT_ALG_HANDLE provider = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                    BCRYPT_ALG_HANDLE_HMAC_FLAG))) {
        return false;
    }
    const bool done = HashWithProvider(provider, key, key_size, message, message_size, mac);
    BCryptCloseAlgorithmProvider(provider, 0);
    return done;
}

bool FillSecureRandom(uint8_t* bytes, std::size_t count) {
    return FitsUlong(count) &&
           BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(count),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}
