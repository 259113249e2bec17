#include "acquisition/uInfoByteClasses.h"

#include "acquisition/uListText.h"

namespace nuq {

void TNuqInfoBytes::Clear() {
    TemprByte = 0;
    TemprModeByte = 0;
    TemprModeBit = 0;
    LTControl = 0;
    LTByte = 0;
    LTTemper = 30;
    LTPeriod = 30;
}

void TNuqInfoBytes::LoadFromString(std::string_view text) {
    tListRecordReader r(DecodeListText(text));
    TemprByte = r.Int(1, 0);
    TemprModeByte = r.Int(2, 0);
    TemprModeBit = r.Int(3, 0);
    LTControl = r.Byte(4, 0);
    TemprModeBitValue = r.Byte(5, 0);
    LTByte = r.Int(6, 0);
    LTTemper = r.Byte(7, 30);
    LTPeriod = r.Byte(8, 30);
}

std::string TNuqInfoBytes::SaveToString() const {
    tListRecordWriter w;
    w.AddInt(TemprByte);
    w.AddInt(TemprModeByte);
    w.AddInt(TemprModeBit);
    w.AddInt(LTControl);
    w.AddInt(TemprModeBitValue);
    w.AddInt(LTByte);
    w.AddInt(LTTemper);
    w.AddInt(LTPeriod);
    return EncodeListText(w.Text());
}

} // namespace nuq
