#pragma once
// Texts, byte lists and hexadecimal texts. Packets travel inside the program
// as byte lists or as hex text; SMS and USSD texts travel as UCS-2 hex, four
// digits per UTF-16 code unit. Texts are UTF-8; the 8-bit routines ("one byte
// per character") work on the text's cp1251 bytes, as peers see them.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nuq {

// One byte value per item. Where the routines below would give no list at
// all, they give an empty one.
using TByteList = std::vector<uint8_t>;

// The first two characters as hexadecimal; anything that is not hexadecimal gives 0.
uint8_t HexByteToInt(std::string_view s);
// Two upper-case hexadecimal digits.
std::string ByteToHex(uint8_t b);

// Four hex digits per UTF-16 code unit, high byte first; stops at the first
// group that is not hexadecimal and returns what was decoded so far.
std::string UCS2HexToText(std::string_view hex);
std::string TextToUCS2Hex(std::string_view s);

// Two hex digits per cp1251 byte; stops at the first pair that is not hexadecimal.
std::string HexToText(std::string_view hex);

// Hex trimmed of blanks, one byte per pair (a bad pair gives 0); an empty text
// or one of odd length gives an empty list.
TByteList HexToByteList(std::string_view hex);
// The cp1251 bytes of S.
TByteList StringToByteList(std::string_view s);
// Appends two hex digits per byte to S; S is not cleared first.
void ByteListToHex(const TByteList& list, std::string& s);

} // namespace nuq
