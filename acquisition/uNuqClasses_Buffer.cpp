#include "acquisition/uNuqClasses_Buffer.h"

#include <algorithm>

namespace nuq {

void tBuffer::ReleaseSpare() {
    // A flood that has been cut away must not keep its memory for the life
    // of the link.
    if (Data.capacity() > SpareBytes && Data.size() < Data.capacity() / 4) Data.shrink_to_fit();
}

void tBuffer::Changed() {
    if (OnChange) OnChange(*this);
}

void tBuffer::AddString(std::string_view s) {
    {
        std::lock_guard<std::recursive_mutex> guard(Lock);
        Data.append(s);
    }
    Changed();
}

uint8_t tBuffer::Bytes(int index) const {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    if (index < 0 || size_t(index) >= Data.size()) return 0;
    return static_cast<uint8_t>(Data[size_t(index)]);
}

int tBuffer::Count() const {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    return int(Data.size());
}

int tBuffer::FindLocked(std::string_view pattern, int from) const {
    if (pattern.empty()) return -1;
    from = std::max(from, 0);
    const int n = int(Data.size()), l = int(pattern.size());
    if (n < l || n - from < l) return -1;
    const size_t hit = std::string_view(Data).find(pattern, size_t(from));
    return hit == std::string_view::npos ? -1 : int(hit);
}

int tBuffer::Find(std::string_view pattern, int from) const {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    return FindLocked(pattern, from);
}

tBufferBlock tBuffer::FindBlock(std::string_view startMarker, std::string_view endMarker) const {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    tBufferBlock block;
    const int s = FindLocked(startMarker, 0);
    if (s < 0) return block;
    const int textStart = s + int(startMarker.size());
    const int e = FindLocked(endMarker, textStart);
    if (e < 0) return block;
    block.Found = true;
    block.StartIndex = s;
    block.EndIndex = e;
    block.Text = Data.substr(size_t(textStart), size_t(e - textStart));
    return block;
}

std::string tBuffer::ExtractBetween(std::string_view startMarker,
                                    std::string_view endMarker) const {
    return FindBlock(startMarker, endMarker).Text;
}

std::string tBuffer::AsString() const {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    return Data;
}

void tBuffer::Delete(int index, int count, bool silent) {
    {
        std::lock_guard<std::recursive_mutex> guard(Lock);
        if (index >= 0 && count > 0 && size_t(index) < Data.size())
            Data.erase(size_t(index), size_t(count));
        ReleaseSpare();
    }
    if (!silent) Changed();
}

void tBuffer::Clear() {
    {
        std::lock_guard<std::recursive_mutex> guard(Lock);
        Data.clear();
        ReleaseSpare();
    }
    Changed();
}

} // namespace nuq
