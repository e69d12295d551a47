#pragma once
// SHA-1 for the WebSocket accept value: OpenSSL's libcrypto on Linux
// (digest_openssl.cpp), the system's CNG on Windows (digest_cng.cpp).

#include <cstddef>

constexpr size_t sha1DigestSize = 20;

// The digest of length bytes into digest[0..19]; false if the library failed.
bool sha1Digest(const void* data, size_t length, unsigned char* digest);
