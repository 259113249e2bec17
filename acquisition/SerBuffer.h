#pragma once
// A receive buffer attached to a port: keeps the port's received bytes in a
// ring of fixed size. Attaching one is what makes the port read incoming
// bytes itself and fire OnRxBuf.

#include <cstdint>
#include <functional>
#include <vector>

#include "acquisition/SerComm.h"

namespace nuq {

class TSerBuffer : public TSerCommComponent {
public:
    TSerBuffer();
    ~TSerBuffer() override;

    std::function<void(TSerBuffer& sender)> OnChange;
    std::function<void(TSerBuffer& sender)> OnOverflow;

    int32_t Size() const { return FSize; }
    // A new size empties the ring; a negative one counts as 0.
    void SetSize(int32_t value);

    // Stores all of Bytes, or nothing (firing OnOverflow) when they do not fit.
    bool Write(const char* bytes, int count);

    int32_t Count() const;
    int32_t Free() const { return FSize - Count(); }
    bool Full() const { return FFull; }
    int32_t ReadPos() const { return FReadPos; }
    int32_t WritePos() const { return FWritePos; }
    const std::vector<char>& Data() const { return FData; }

protected:
    void CommRxBuf(const char* bytes, int count) override;

private:
    std::vector<char> FData;
    int32_t FSize = 0;
    int32_t FReadPos = 0;
    int32_t FWritePos = 0;
    bool FFull = false;
};

} // namespace nuq
