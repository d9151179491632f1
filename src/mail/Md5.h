#pragma once

#include <cstddef>
#include <cstdint>

#include <QByteArray>

// The MD5 digest of RFC 1321. Misuse (Update after Finalize, asking for the digest before
// Finalize) is written to the standard error stream with a text beginning "MD5::" and
// otherwise changes nothing.
class MD5
{
public:
    MD5() { Init(); }
    // Starts a new digest.
    void Init();
    // Adds bytes to the digest.
    void Update(const void* data, std::size_t length);
    void Update(const QByteArray& data)
    {
        Update(data.constData(), static_cast<std::size_t>(data.size()));
    }
    // Pads and completes the digest; further calls do nothing.
    void Finalize();
    // Returns the 16 raw digest bytes, or an empty array before Finalize.
    QByteArray RawDigest() const;
    // Returns the digest as 32 lower-case hexadecimal digits, or an empty array before
    // Finalize.
    QByteArray HexDigest() const;

    // One-shot helpers.
    static QByteArray Raw(const QByteArray& data);
    static QByteArray Hex(const QByteArray& data);

private:
    void Transform(const std::uint8_t block[64]);

    std::uint32_t m_state[4] = {};
    std::uint64_t m_bitCount = 0;
    std::uint8_t m_buffer[64] = {};
    std::uint8_t m_digest[16] = {};
    bool m_finalized = false;
};

// HMAC-MD5 of RFC 2104: returns the 16 raw bytes. A key longer than 64 bytes is replaced
// by its MD5.
QByteArray HmacMd5(const QByteArray& key, const QByteArray& data);
