#include "platform/Base64.h"

#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int DecodeChar(char c)
{
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

} // namespace

QByteArray Base64Encode(const QByteArray& data)
{
    QByteArray out;
    out.reserve((data.size() + 2) / 3 * 4);
    const auto* p = reinterpret_cast<const std::uint8_t*>(data.constData());
    const qsizetype n = data.size();
    qsizetype i = 0;
    for (; i + 3 <= n; i += 3) {
        const std::uint32_t v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
        out.append(kAlphabet[(v >> 18) & 63]);
        out.append(kAlphabet[(v >> 12) & 63]);
        out.append(kAlphabet[(v >> 6) & 63]);
        out.append(kAlphabet[v & 63]);
    }
    if (n - i == 1) {
        const std::uint32_t v = p[i] << 16;
        out.append(kAlphabet[(v >> 18) & 63]);
        out.append(kAlphabet[(v >> 12) & 63]);
        out.append("==");
    } else if (n - i == 2) {
        const std::uint32_t v = (p[i] << 16) | (p[i + 1] << 8);
        out.append(kAlphabet[(v >> 18) & 63]);
        out.append(kAlphabet[(v >> 12) & 63]);
        out.append(kAlphabet[(v >> 6) & 63]);
        out.append('=');
    }
    return out;
}

QByteArray Base64Decode(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size() / 4 * 3 + 2);
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        const int v = DecodeChar(c);
        if (v < 0) {
            break; // "=" or a character outside the alphabet ends the data
        }
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
        if (++count == 4) {
            out.append(static_cast<char>((bits >> 16) & 0xFF));
            out.append(static_cast<char>((bits >> 8) & 0xFF));
            out.append(static_cast<char>(bits & 0xFF));
            bits = 0;
            count = 0;
        }
    }
    if (count == 2) {
        out.append(static_cast<char>((bits >> 4) & 0xFF));
    } else if (count == 3) {
        out.append(static_cast<char>((bits >> 10) & 0xFF));
        out.append(static_cast<char>((bits >> 2) & 0xFF));
    }
    return out;
}
