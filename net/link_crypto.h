// The two things the link key needs from a cryptographic library, and nothing more: an
// HMAC-SHA256 and the operating system's secure random source. Each build takes them from
// what its platform keeps well (the system's own provider on Windows, a library from the
// distribution on Linux), so neither the hash nor the MAC is ever written here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

constexpr std::size_t kSha256Size = 32;
using Sha256Mac = std::array<uint8_t, kSha256Size>;

// HMAC-SHA256 of `message` under `key`. False when the library failed, and then `mac` is
// not to be used: a link that cannot compute its proofs does not start.
bool HmacSha256(const uint8_t* key, std::size_t key_size, const uint8_t* message,
                std::size_t message_size, Sha256Mac* mac);

// `count` bytes from the secure random source; false, with nothing to be used, when it
// failed.
bool FillSecureRandom(uint8_t* bytes, std::size_t count);
