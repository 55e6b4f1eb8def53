#include "sha256_digest.h"

#include <windows.h>
#include <bcrypt.h>

namespace tq318::repair {

struct Sha256Digest::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = false;
    State() {
        ok = BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
             BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
    }
    ~State() {
        if (hash != nullptr) ::BCryptDestroyHash(hash);
        if (algorithm != nullptr) ::BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

Sha256Digest::Sha256Digest() : state_(std::make_unique<State>()) {}
Sha256Digest::~Sha256Digest() = default;

bool Sha256Digest::update(std::span<const std::uint8_t> bytes) {
    while (state_->ok && !bytes.empty()) {
        const std::size_t n = bytes.size() > (1u << 30) ? (1u << 30) : bytes.size();
        state_->ok = BCRYPT_SUCCESS(::BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes.data()),
                                                     static_cast<ULONG>(n), 0));
        bytes = bytes.subspan(n);
    }
    return state_->ok;
}

std::optional<std::array<std::uint8_t, 32>> Sha256Digest::finish() {
    std::array<std::uint8_t, 32> out{};
    if (!state_->ok || !BCRYPT_SUCCESS(::BCryptFinishHash(state_->hash, out.data(), out.size(), 0))) {
        state_->ok = false;
        return std::nullopt;
    }
    state_->ok = false;  // finished
    return out;
}

}  // namespace tq318::repair
