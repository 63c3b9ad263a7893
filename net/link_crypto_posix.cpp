// The link key's HMAC and random source from libsodium, linked in statically so that the site
// depends on nothing beyond the C library.
#include <sodium.h>

#include "net/link_crypto.h"

namespace {

// The library sets itself up once for the whole process, whichever thread asks first; after a
// failure nothing it computes may be trusted.
bool SodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

}  // namespace

bool HmacSha256(const uint8_t* key, std::size_t key_size, const uint8_t* message,
                std::size_t message_size, Sha256Mac* mac) {
    if (!SodiumReady()) {
        return false;
    }
    crypto_auth_hmacsha256_state state;
    const bool done = crypto_auth_hmacsha256_init(&state, key, key_size) == 0 &&
                      crypto_auth_hmacsha256_update(&state, message, message_size) == 0 &&
                      crypto_auth_hmacsha256_final(&state, mac->data()) == 0;
    // The state holds the key's padded blocks.
    sodium_memzero(&state, sizeof state);
    return done;
}

bool FillSecureRandom(uint8_t* bytes, std::size_t count) {
    if (!SodiumReady()) {
        return false;
    }
    randombytes_buf(bytes, count);
    return true;
}
