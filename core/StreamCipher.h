// CStreamCipher: AES-256 in counter mode under a random key of its own, with
// the counter taken from the file offset, so any byte range of a file can be
// encrypted or decrypted on its own. For the temporary files of an encrypted
// connection (sorts, temporary tables, statement journals): private to one
// connection and deleted when closed, so no key needs to outlive them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace KvoCore {

class CStreamCipher {
public:
    CStreamCipher();  // draws the key; throws std::runtime_error without randomness
    ~CStreamCipher();
    CStreamCipher(const CStreamCipher&) = delete;
    CStreamCipher& operator=(const CStreamCipher&) = delete;

    // Encrypts or decrypts (the same operation) length bytes that sit at offset.
    void Apply(uint64_t offset, unsigned char* data, size_t length) const;

private:
    unsigned char m_key[32];
};

}  // namespace KvoCore
