#pragma once

#include <cstddef>
#include <cstdint>

#include <QString>
#include <QStringList>

// The SMS PDU codec: SMS-SUBMIT encoding and SMS-DELIVER decoding between an SmsRecord and
// the hex text a modem in PDU mode takes and lists. Pure functions on caller buffers,
// without state or locks; texts are 8-bit in the ANSI code page.

// Widths of the record fields, terminators included.
constexpr std::size_t kSmsNumberSize = 16; // 15 digits
constexpr std::size_t kSmsTimeSize = 16;   // 14 semi-octets
// 70 characters in the ANSI code page whatever its width (UTF-8: up to 4 bytes each).
constexpr int kSmsTextChars = 70;
constexpr std::size_t kSmsTextSize = 4 * kSmsTextChars + 1;
// UCS2 characters of one part of a concatenated message (the rest carries its header).
constexpr int kSmsPartChars = 67;
constexpr int kSmsMaxParts = 8;
// Largest user data one message carries: 140 octets, 160 septets.
constexpr int kSmsMaxUserOctets = 140;
constexpr int kSmsMaxSeptets = 160;
// Buffer for the PDU text of EncodeSubmitPdu (the largest PDU is far below it).
constexpr std::size_t kSmsPduTextSize = 512;
// A storage index that could not be read from a listing (the message is not deleted).
constexpr std::uint16_t kSmsNoIndex = 0xFFFF;

// Data coding schemes as the codec uses them.
constexpr std::uint8_t kDcs7Bit = 0;
constexpr std::uint8_t kDcsUcs2 = 8;

// One message; zero-filled before its fields are set, every text field NUL-terminated.
struct SmsRecord
{
    char SCA[kSmsNumberSize]; // SMSC number, digits only
    char TPA[kSmsNumberSize]; // destination or originator number, digits only
    std::uint8_t PID;         // TP-Protocol-Identifier
    std::uint8_t DCS;         // 0 7-bit, 8 UCS2, other 8-bit data
    char SCTS[kSmsTimeSize];  // service-centre time stamp, reading order
    char UD[kSmsTextSize];    // text in the ANSI code page
    std::uint16_t Index;      // sequence number (outgoing) or storage index (received)
    // One part of a concatenated message (outgoing, UCS2 only): the reference all its parts
    // share, their number (0 or 1: a message of its own) and this part's number from 1.
    std::uint8_t PartRef;
    std::uint8_t PartCount;
    std::uint8_t PartNumber;
};

// Writes 2n upper-case hex characters and a NUL. Returns 2n (0 for n below 1).
int BytesToHex(const std::uint8_t* octets, int n, char* text);
// Converts hex pairs (either case) into octets; a character that is not a hex digit counts
// as 0, and an odd last character is the high nibble of a last octet. Never reads past m
// characters. Returns m / 2 (0 for m below 1).
int HexToBytes(const char* text, int m, std::uint8_t* octets);
// Swaps each pair of digits; an odd last digit d becomes "Fd". Writes a NUL. Returns m
// rounded up to even.
int SwapSemiOctets(const char* digits, int m, char* text);
// Swaps pairs back (an odd last character, half a pair, is dropped); a trailing 'F' is
// dropped. Writes a NUL. Returns the length of the result.
int UnswapSemiOctets(const char* text, int m, char* digits);
// Packs the low 7 bits of count codes into septets, least significant bits first.
// Returns the octets written: count * 7 / 8 rounded up.
int Pack7Bit(const std::uint8_t* codes, int count, std::uint8_t* octets);
// Unpacks septets: one character per octet plus one after every seventh octet, at most
// outSize - 1 of them, then a NUL. Returns the number of characters.
int Unpack7Bit(const std::uint8_t* octets, int count, char* text, std::size_t outSize);
// Converts ANSI text to UTF-16 (at most maxUnits units, a surrogate pair never split) and
// writes each unit high octet first. Returns the octets written.
int EncodeUcs2(const char* text, int length, std::uint8_t* octets, int maxUnits = kSmsTextChars);
// Joins octet pairs into UTF-16 units and converts them to ANSI text of at most
// outSize - 1 bytes (a character never split), then a NUL. Returns the bytes written.
int DecodeUcs2(const std::uint8_t* octets, int count, char* text, std::size_t outSize);
// Copies count octets (at most outSize - 1) and appends a NUL. Returns the bytes copied.
int Copy8Bit(const std::uint8_t* octets, int count, char* out, std::size_t outSize);

// Writes the SMSC part and the SMS-SUBMIT TPDU of record as upper-case hex text with a NUL
// into text (kSmsPduTextSize). Returns its length in characters. A part of a concatenated
// message carries the header naming its reference, count and number, and at most
// kSmsPartChars characters.
int EncodeSubmitPdu(const SmsRecord& record, char* text);
// The TPDU length in octets that "AT+CMGS=" announces for the PDU text of EncodeSubmitPdu.
int SubmitTpduLength(const char* pduText, int length);
// Fills SCA, TPA, PID, DCS, SCTS and UD of record (Index is kept, the rest cleared) from
// the PDU text of an SMS-DELIVER starting at the SMSC length octet. Reads at most length
// characters and stops at the first character that is not a hex digit; lengths in the PDU
// that reach past the text or past a field are cut to what is there and what fits.
// Returns false when the PDU ended before its user data was complete.
bool DecodeDeliverPdu(const char* pdu, std::size_t length, SmsRecord& record);

// Cuts text into the texts of the messages it is sent as: the whole text when it fits one
// (kSmsTextChars), else parts of kSmsPartChars UTF-16 units, at most maxParts of them (the
// rest is cut off; with maxParts 1 the one message holds kSmsTextChars). A surrogate pair
// is never split.
QStringList SplitSmsText(const QString& text, int maxParts);

// The number in international form: a leading '+' removed, "86" put in front unless it
// begins with it.
QString NormalizeNumber(const QString& number);
// True when number (normalized) fits an SmsRecord number field: 1 to 15 decimal digits.
bool IsValidSmsNumber(const QString& normalized);

// Splits a "+CMGL:" listing (length characters of text) into records: for each entry its
// storage index (kSmsNoIndex when it is missing or above 65534) and the decoded PDU of the
// line that follows. Fills at most capacity records; listed (when given) receives the
// number of entries the listing held. Returns the number of records filled.
int ParseList(const char* text, std::size_t length, SmsRecord* records, int capacity,
              int* listed = nullptr);
