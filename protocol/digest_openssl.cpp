#include <openssl/evp.h>

#include "protocol/digest.h"

bool sha1Digest(const void* data, size_t length, unsigned char* digest) {
    unsigned int size = 0;
    return EVP_Digest(data, length, digest, &size, EVP_sha1(), nullptr) == 1 &&
           size == sha1DigestSize;
}
