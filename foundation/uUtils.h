#pragma once
// Number, bit, time and key helpers shared by the whole system.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/SyncObjs.h"

namespace nuq {

// Int(Value) + R / Factor, R being Frac(Value) * Factor rounded half away from zero.
double RoundByFactor(int factor, double value);
// Binary digits, most significant first; any other character sets Error and counts as 0.
int BinStrToInt(std::string_view s, bool& error);
// "1 дн 1 ч 1 м 1 с": each non-zero part; 0 gives ''.
std::string SecondsToStr(int seconds);
// Eight hex digits as an IEEE single, every exponent taken as a normal number.
float HexToSingleValue(std::string_view hex);
// The same from the 32 bits themselves.
float SingleFromBits(uint32_t bits);
// The float of a packet: 999999995904 for overflow or any failure; with
// CheckTiny magnitudes below 1E-7 read as 0.
float HexStrToFloat(std::string_view s, bool checkTiny);
// The same from the four bytes' bits, first byte most significant.
float PacketFloatFromBits(uint32_t bits, bool checkTiny);
int SignMagnitudeByteToInt(uint8_t b);
bool IsBitSet(int64_t value, int bit);
// Appends one record of the user-rights text given to the host.
void AddSystemAction(const std::string& list, const std::string& code, const std::string& name,
                     std::string& result, const std::string& description);
// Plays a wave file asynchronously, trying the host folder when the name
// alone does not exist; false when nothing was played.
bool PlaySoundFile(const std::string& fileName);
// A named mutex any process of the machine's users may open.
TMutexHandle CreateOpenMutex(const std::string& name);
// MD5 of the text's bytes (cp1251, as stored) as 32 upper-case hex digits.
std::string MD5Hex(std::string_view s);
// A fresh random 32-digit key.
std::string NewUniqueKey();
// Base64 of the HMAC-SHA256 of the text's bytes under the packet seal key.
std::string PacketSignature(std::string_view s);
std::string IntToHexStr(int digits, int value);

// The text form of a new random GUID, with braces, as keys are made from.
std::string NewGuidText();

// The error value of packet float conversions.
inline constexpr double FloatErrorValue = 999999995904.0;

} // namespace nuq
