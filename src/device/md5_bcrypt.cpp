// MD5 from the system's cryptography (CNG) on Windows.
#include <windows.h>

#include <algorithm>
#include <bcrypt.h>

#include "device/signature.h"

namespace tunavox {
namespace {

// The provider is opened once and kept for the life of the program.
BCRYPT_ALG_HANDLE Md5Provider() {
    static const BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE h = nullptr;
        if (BCryptOpenAlgorithmProvider(&h, BCRYPT_MD5_ALGORITHM, nullptr, 0) != 0) h = nullptr;
        return h;
    }();
    return provider;
}

} // namespace

TMd5::TMd5() : state_(nullptr) {
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (Md5Provider() && BCryptCreateHash(Md5Provider(), &hash, nullptr, 0, nullptr, 0, 0) == 0)
        state_ = hash;
}

TMd5::~TMd5() {
    if (state_) BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(state_));
}

void TMd5::Update(std::string_view bytes) {
    // In pieces that a ULONG can count.
    while (state_ && !bytes.empty()) {
        const size_t n = std::min<size_t>(bytes.size(), 1u << 30);
        auto* p = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));
        if (BCryptHashData(static_cast<BCRYPT_HASH_HANDLE>(state_), p, static_cast<ULONG>(n), 0) !=
            0) {
            BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(state_));
            state_ = nullptr;
        }
        bytes.remove_prefix(n);
    }
}

std::string TMd5::Hex() {
    unsigned char digest[16];
    if (!state_ ||
        BCryptFinishHash(static_cast<BCRYPT_HASH_HANDLE>(state_), digest, sizeof digest, 0) != 0)
        return {};
    return DigestHex(digest, sizeof digest);
}

} // namespace tunavox
