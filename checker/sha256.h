// SHA-256 (FIPS 180-4), with no platform calls, so that both builds share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace check {

class Sha256 {
  public:
    Sha256();
    void update(const void* data, std::size_t size);
    // The digest in lower-case hex. Ends the message: update it no further.
    std::string hexDigest();

  private:
    void compress(const unsigned char* block);

    std::uint32_t state_[8];
    unsigned char block_[64];
    std::size_t used_ = 0;
    std::uint64_t length_ = 0;  // in bytes
};

std::string sha256Hex(const std::string& bytes);

}  // namespace check
