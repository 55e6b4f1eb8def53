// One SHA-256 computation, by the platform's own cryptography (OpenSSL's EVP
// interface on Linux, BCrypt on Windows).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace tq318::repair {

class Sha256Digest {
public:
    Sha256Digest();
    ~Sha256Digest();
    Sha256Digest(const Sha256Digest&) = delete;
    Sha256Digest& operator=(const Sha256Digest&) = delete;

    // False once anything failed (the digest is then null).
    bool update(std::span<const std::uint8_t> bytes);
    std::optional<std::array<std::uint8_t, 32>> finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace tq318::repair
