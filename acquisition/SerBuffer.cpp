#include "acquisition/SerBuffer.h"

#include <cstring>

namespace nuq {

TSerBuffer::TSerBuffer() {
    SetSize(2048);
}

TSerBuffer::~TSerBuffer() {
    OnChange = nullptr; // nobody is left to tell
    SetSize(0);
    SetComm(nullptr);
}

void TSerBuffer::SetSize(int32_t value) {
    if (value < 0) value = 0;
    if (value == FSize) return;
    FReadPos = 0;
    FWritePos = 0;
    FFull = false;
    if (OnChange) OnChange(*this);
    FData.assign(size_t(value), 0);
    FSize = value;
}

int32_t TSerBuffer::Count() const {
    if (FFull) return FSize;
    if (FSize == 0) return 0;
    return ((FWritePos - FReadPos) % FSize + FSize) % FSize;
}

bool TSerBuffer::Write(const char* bytes, int count) {
    if (count > 0 && count <= Free()) {
        int32_t first = FSize - FWritePos;
        if (count <= first) {
            std::memcpy(FData.data() + FWritePos, bytes, size_t(count));
        } else {
            std::memcpy(FData.data() + FWritePos, bytes, size_t(first));
            std::memcpy(FData.data(), bytes + first, size_t(count - first));
        }
        FWritePos += count;
        if (FWritePos >= FSize) FWritePos -= FSize;
        FFull = FReadPos == FWritePos;
        if (OnChange) OnChange(*this);
        return true;
    }
    if (OnOverflow) OnOverflow(*this);
    return false;
}

void TSerBuffer::CommRxBuf(const char* bytes, int count) {
    if (count < 1) return;
    Write(bytes, count);
}

} // namespace nuq
