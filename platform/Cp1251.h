#pragma once
// Code page 1251 at the byte boundaries: peers, stored texts and files of the
// original system see one byte per character in this code page, while the
// program holds UTF-8.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nuq {

// UTF-8 to cp1251; a character the code page lacks becomes "?", and a byte
// that is not valid UTF-8 is taken as a cp1251 byte as it stands.
std::string Utf8ToCp1251(std::string_view utf8);

// cp1251 bytes to UTF-8; the one unassigned byte (0x98) maps to U+FFFD.
std::string Cp1251ToUtf8(std::string_view cp1251);

bool IsValidUtf8(std::string_view s);

// A text file of people's making: UTF-8 when it is valid UTF-8 throughout (a
// leading byte-order mark dropped), as every file we write is. A file that
// is not is weighed line by line: a line counts as UTF-8 only when it is
// valid UTF-8 and reads as mostly characters cp1251 has too, so a cp1251 line
// valid as UTF-8 by chance ("Т°" read as "Ұ") beside plain cp1251 ones does
// not. With no line that counts, or more lines that do not, the file is
// cp1251 throughout; else each line that does not count is read as cp1251 on
// its own, and its number goes to NotUtf8Lines when given. Lines are
// numbered from 1 and end at CR LF, LF or a lone CR, as every reader of ours
// ends them.
std::string TextFromFileBytes(std::string_view bytes, std::vector<int>* notUtf8Lines = nullptr);

// Length in characters as a peer counts them (one per cp1251 byte).
size_t CharLength(std::string_view utf8);

// One UTF-8 sequence at S[I]: its length, 0 when it is not valid UTF-8
// (overlong forms, surrogates and values past U+10FFFF included).
size_t DecodeUtf8Char(std::string_view s, size_t i, uint32_t& codePoint);
void AppendUtf8Char(std::string& out, uint32_t codePoint);

// UTF-8 and UTF-16 (wide texts of the tree, the database driver's wide
// strings). A byte that is not UTF-8 and a lone surrogate become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

} // namespace nuq
