#include <windows.h>

#include <bcrypt.h>

#include "protocol/digest.h"

bool sha1Digest(const void* data, size_t length, unsigned char* digest) {
    // mingw-w64 has no BCRYPT_SHA1_ALG_HANDLE pseudo-handle; open the provider.
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA1_ALGORITHM, nullptr, 0)))
        return false;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
    ok = ok && BCRYPT_SUCCESS(BCryptHashData(hash, static_cast<PUCHAR>(const_cast<void*>(data)),
                                             static_cast<ULONG>(length), 0));
    ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sha1DigestSize, 0));
    if (hash != nullptr) BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return ok;
}
