// The parsers of server text (Base64 decoding, the DIGEST-MD5 challenge, the keyword scan
// of EHLO replies) and the body line as sent: whatever the text, it holds no bare CR or LF
// and never the end-of-data mark.

#include <cstddef>
#include <cstdint>

#include "mail/SmtpSession.h"
#include "platform/Base64.h"

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
    const QByteArray wire = "\r\n" + CSmtpMessage::WireLine(text);
    for (qsizetype i = 0; i < wire.size(); ++i) {
        if ((wire[i] == '\r') != (i + 1 < wire.size() && wire[i + 1] == '\n')) {
            __builtin_trap();
        }
    }
    if (wire.contains("\r\n.\r\n")) {
        __builtin_trap();
    }
    return 0;
}
