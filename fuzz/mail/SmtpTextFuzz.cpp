// The parsers of server text: Base64 decoding, the DIGEST-MD5 challenge and the keyword
// scan of EHLO replies.

#include <cstddef>
#include <cstdint>

#include "platform/Base64.h"
#include "mail/SmtpSession.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QByteArray decoded = Base64Decode(text);
    if (decoded.size() > text.size()) {
        __builtin_trap();
    }
    if (Base64Decode(Base64Encode(text)) != text) {
        __builtin_trap();
    }
    QByteArray response;
    DigestMd5Answer("user", "password", decoded, "smtp/127.0.0.1", "cnonce", &response);
    for (const char* keyword : {"AUTH", "LOGIN", "STARTTLS", "CRAM-MD5"}) {
        CSmtpSession::IsKeywordOffered(text, keyword);
    }
    return 0;
}
