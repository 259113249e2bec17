#pragma once
// The port's grouped settings: flow control, special characters, and buffer
// sizes with time-outs. Each setter stores a different value and announces
// it; the port listens and reprograms the line.

#include <array>
#include <cstdint>
#include <string>

#include "acquisition/SerClasses.h"

namespace nuq {

enum TSerControlDtr { dtrDisabled, dtrEnabled, dtrHandshake };
enum TSerControlRts { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };

// Flags of the device control block.
inline constexpr uint32_t dcbBinary = 0x0001;
inline constexpr uint32_t dcbParity = 0x0002;
inline constexpr uint32_t dcbOutxCtsFlow = 0x0004;
inline constexpr uint32_t dcbOutxDsrFlow = 0x0008;
inline constexpr uint32_t dcbDsrSensitivity = 0x0040;
inline constexpr uint32_t dcbTxContinueOnXoff = 0x0080;
inline constexpr uint32_t dcbOutX = 0x0100;
inline constexpr uint32_t dcbInX = 0x0200;
inline constexpr uint32_t dcbErrorChar = 0x0400;
inline constexpr uint32_t dcbNull = 0x0800;

class TSerFlowControl : public TSerPersistent {
public:
    bool OutCtsFlow() const { return FOutCtsFlow; }
    bool OutDsrFlow() const { return FOutDsrFlow; }
    TSerControlDtr ControlDtr() const { return FControlDtr; }
    TSerControlRts ControlRts() const { return FControlRts; }
    bool XonXoffOut() const { return FXonXoffOut; }
    bool XonXoffIn() const { return FXonXoffIn; }
    bool DsrSensitivity() const { return FDsrSensitivity; }
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }

    void SetOutCtsFlow(bool value) { Store(FOutCtsFlow, value); }
    void SetOutDsrFlow(bool value) { Store(FOutDsrFlow, value); }
    void SetControlDtr(TSerControlDtr value) { Store(FControlDtr, value); }
    void SetControlRts(TSerControlRts value) { Store(FControlRts, value); }
    void SetXonXoffOut(bool value) { Store(FXonXoffOut, value); }
    void SetXonXoffIn(bool value) { Store(FXonXoffIn, value); }
    void SetDsrSensitivity(bool value) { Store(FDsrSensitivity, value); }
    void SetTxContinueOnXoff(bool value) { Store(FTxContinueOnXoff, value); }

    // The device-control-block flags these settings stand for.
    uint32_t Flags() const;
    void Assign(const TSerPersistent& source);

private:
    template <class T> void Store(T& field, T value) {
        if (field == value) return;
        field = value;
        Changed();
    }

    bool FOutCtsFlow = false;
    bool FOutDsrFlow = false;
    TSerControlDtr FControlDtr = dtrDisabled;
    TSerControlRts FControlRts = rtsDisabled;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
    bool FDsrSensitivity = false;
    bool FTxContinueOnXoff = false;
};

class TSerEventChars : public TSerPersistent {
public:
    char XonChar() const { return FXonChar; }
    char XoffChar() const { return FXoffChar; }
    char ErrorChar() const { return FErrorChar; }
    char EventChar() const { return FEventChar; }
    char EofChar() const { return FEofChar; }

    // Index 1..5: XonChar, XoffChar, ErrorChar, EventChar, EofChar. A NUL
    // XON or XOFF character raises ESerCommError and changes nothing.
    void SetChar(int index, char value);
    void SetXonChar(char value) { SetChar(1, value); }
    void SetXoffChar(char value) { SetChar(2, value); }
    void SetErrorChar(char value) { SetChar(3, value); }
    void SetEventChar(char value) { SetChar(4, value); }
    void SetEofChar(char value) { SetChar(5, value); }

    void Assign(const TSerPersistent& source);

private:
    char FXonChar = 0x11;
    char FXoffChar = 0x13;
    char FErrorChar = 0;
    char FEventChar = 0;
    char FEofChar = 0;
};

class TSerBuffers : public TSerPersistent {
public:
    int32_t ReadSize() const { return FReadSize; }
    int32_t WriteSize() const { return FWriteSize; }
    int32_t ReadTimeout() const { return FReadTimeout; }
    int32_t WriteTimeout() const { return FWriteTimeout; }
    int32_t XonLimit() const { return FXonLimit; }
    int32_t XoffLimit() const { return FXoffLimit; }

    // Negative values count as 0: sizes and limits cannot be below it.
    void SetReadSize(int32_t value) { Store(FReadSize, value); }
    void SetWriteSize(int32_t value) { Store(FWriteSize, value); }
    void SetXonLimit(int32_t value) { Store(FXonLimit, value); }
    void SetXoffLimit(int32_t value) { Store(FXoffLimit, value); }
    // The time-outs take effect at the next read or write; nobody need be told.
    void SetReadTimeout(int32_t value) { FReadTimeout = value < 0 ? 0 : value; }
    void SetWriteTimeout(int32_t value) { FWriteTimeout = value < 0 ? 0 : value; }

    // An open port refuses new sizes by raising from the notification; the
    // group then keeps its old values, as the port does.
    void Assign(const TSerPersistent& source);

private:
    using TValues = std::array<int32_t, 6>;
    static const std::array<int32_t TSerBuffers::*, 6> AllFields;
    TValues Values() const;
    void Store(int32_t& field, int32_t value);
    void Announce(const TValues& before, void (TSerBuffers::*notify)());

    int32_t FReadSize = 4096;
    int32_t FWriteSize = 2048;
    int32_t FReadTimeout = 1000;
    int32_t FWriteTimeout = 1000;
    int32_t FXonLimit = 1024;
    int32_t FXoffLimit = 1024;
};

} // namespace nuq
