#include "sha256_digest.h"

#include <openssl/evp.h>

#include <algorithm>

namespace tq318::repair {

struct Sha256Digest::State {
    struct Free {
        void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> ctx{EVP_MD_CTX_new()};
    bool ok = ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) == 1;
};

Sha256Digest::Sha256Digest() : state_(std::make_unique<State>()) {}
Sha256Digest::~Sha256Digest() = default;

bool Sha256Digest::update(std::span<const std::uint8_t> bytes) {
    state_->ok = state_->ok && EVP_DigestUpdate(state_->ctx.get(), bytes.data(), bytes.size()) == 1;
    return state_->ok;
}

std::optional<std::array<std::uint8_t, 32>> Sha256Digest::finish() {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (!state_->ok || EVP_DigestFinal_ex(state_->ctx.get(), digest.data(), &length) != 1 || length != 32) {
        state_->ok = false;
        return std::nullopt;
    }
    state_->ok = false;  // finished
    std::array<std::uint8_t, 32> out{};
    std::copy_n(digest.begin(), out.size(), out.begin());
    return out;
}

}  // namespace tq318::repair
