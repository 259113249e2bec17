#pragma once
// Text routines shared by the whole system. Separator sets are sets of 8-bit
// characters; positions are 1-based. Every serialised text is read with
// WordCount and ExtractWord, so their treatment of separators is part of the
// stored formats: leading, trailing and repeated separators never make an
// empty word.

#include <bitset>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace nuq {

class TCharSet {
public:
    TCharSet() = default;
    TCharSet(std::initializer_list<char> chars) {
        for (char c : chars) Bits.set(static_cast<unsigned char>(c));
    }
    bool Contains(char c) const { return Bits.test(static_cast<unsigned char>(c)); }
    TCharSet& Include(char c) {
        Bits.set(static_cast<unsigned char>(c));
        return *this;
    }

private:
    std::bitset<256> Bits;
};

std::string ReplaceStr(std::string_view s, std::string_view search, std::string_view replacement);
std::string MakeStr(char c, int n);
int NPos(std::string_view sub, std::string_view s, int n);
// Padding counts characters as a peer sees them (one per character).
std::string AddChar(char c, std::string_view s, int n);
std::string AddCharR(char c, std::string_view s, int n);
int WordCount(std::string_view s, const TCharSet& separators);
int WordPosition(int n, std::string_view s, const TCharSet& separators);
std::string ExtractWord(int n, std::string_view s, const TCharSet& separators);
// Spaces below 1 inserts no blanks.
std::string IntToBin(int64_t value, int digits, int spaces);
// The key and the text are taken as their cp1251 bytes, as stored files hold them.
std::string XorEncode(std::string_view key, std::string_view s);
std::string XorDecode(std::string_view key, std::string_view hex);

} // namespace nuq
