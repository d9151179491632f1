// libFuzzer target for the two parsers of modem output: an SMS-DELIVER PDU and a "+CMGL:"
// listing. Any input must decode without reading or writing out of bounds.

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

    static SmsRecord records[8];
    int listed = 0;
    const int filled = ParseList(text.get(), size, records, 8, &listed);
    if (filled > 8 || filled > listed) {
        __builtin_trap();
    }
    return 0;
}
