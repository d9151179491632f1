// libFuzzer target for the two parsers of modem output (an SMS-DELIVER PDU and a "+CMGL:"
// listing) and the encoder of a message part. Any input must go through without reading or
// writing out of bounds.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "sms/SmsCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // An exact-size copy, so that any read past the input is caught.
    std::unique_ptr<char[]> text(new char[size ? size : 1]);
    std::memcpy(text.get(), data, size);

    SmsRecord record{};
    DecodeDeliverPdu(text.get(), size, record);
    if (std::strlen(record.UD) >= sizeof record.UD ||
        std::strlen(record.TPA) >= sizeof record.TPA) {
        __builtin_trap();
    }

    // The decoded text sent on as one part of a long message stays within the PDU buffer.
    record.DCS = kDcsUcs2;
    record.PartRef = 1, record.PartCount = 2, record.PartNumber = 1;
    char pdu[kSmsPduTextSize];
    if (EncodeSubmitPdu(record, pdu) >= static_cast<int>(kSmsPduTextSize)) {
        __builtin_trap();
    }

    static SmsRecord records[8];
    int listed = 0;
    const int filled = ParseList(text.get(), size, records, 8, &listed);
    if (filled > 8 || filled > listed) {
        __builtin_trap();
    }
    return 0;
}
