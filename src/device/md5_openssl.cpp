#include <openssl/evp.h>

#include "device/signature.h"

namespace tunavox {
namespace {

EVP_MD_CTX* Ctx(void* state) {
    return static_cast<EVP_MD_CTX*>(state);
}

} // namespace

TMd5::TMd5() : state_(EVP_MD_CTX_new()) {
    if (state_) EVP_DigestInit_ex(Ctx(state_), EVP_md5(), nullptr);
}

TMd5::~TMd5() {
    EVP_MD_CTX_free(Ctx(state_));
}

void TMd5::Update(std::string_view bytes) {
    if (state_) EVP_DigestUpdate(Ctx(state_), bytes.data(), bytes.size());
}

std::string TMd5::Hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!state_ || EVP_DigestFinal_ex(Ctx(state_), digest, &size) != 1) return {};
    return DigestHex(digest, size);
}

} // namespace tunavox
