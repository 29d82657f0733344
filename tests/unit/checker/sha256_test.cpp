#include "sha256.h"

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

namespace {

// Digests from FIPS 180-4's examples and from sha256sum: the padding's
// boundaries lie where the length field fits in the last block or not.
TEST(Sha256, KnownDigests) {
    struct Case {
        std::string message;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.size());
        EXPECT_EQ(check::sha256Hex(c.message), c.digest);
        // Byte by byte, so that every fill level of the block is passed through.
        check::Sha256 hash;
        for (char byte : c.message) {
            hash.update(&byte, 1);
        }
        EXPECT_EQ(hash.hexDigest(), c.digest);
    }
}

TEST(Sha256, MillionBytesInUnevenPieces) {
    const std::string as(1000, 'a');
    check::Sha256 hash;
    std::size_t fed = 0;
    // Pieces of 1 to 997 bytes, so that they straddle blocks at every offset.
    for (std::size_t piece = 1; fed < 1000000; piece = piece * 7 % 997 + 1) {
        std::size_t size = std::min(piece, 1000000 - fed);
        hash.update(as.data(), size);
        fed += size;
    }
    EXPECT_EQ(hash.hexDigest(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
