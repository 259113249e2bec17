#include "acquisition/uNuqClasses_Buffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace nuq;

TEST(Buffer, ChangeEvents) {
    tBuffer b;
    int changes = 0;
    b.OnChange = [&](tBuffer&) { ++changes; };
    b.AddString("");
    EXPECT_EQ(changes, 1); // an empty text still notifies
    EXPECT_EQ(b.Count(), 0);
    b.AddString("<abc>\r\n");
    EXPECT_EQ(changes, 2);
    b.Delete(0, 2, true);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(b.AsString(), "bc>\r\n");
    b.Delete(0, 2, false);
    EXPECT_EQ(changes, 3);
    b.Delete(1, 100, true); // cut to what is stored
    EXPECT_EQ(b.AsString(), ">");
    b.Clear();
    EXPECT_EQ(changes, 4);
    EXPECT_EQ(b.Count(), 0);
}

TEST(Buffer, FindAndBlocks) {
    tBuffer b;
    b.AddString(std::string("x<12>\0<>y", 9));
    struct Case {
        std::string pattern;
        int from, at;
    };
    for (const auto& c : {Case{"<", 0, 1}, Case{"<", 2, 6}, Case{">", 5, 7}, Case{"12>", 0, 2},
                          Case{"y", 8, 8}, Case{"yz", 8, -1}, Case{"0123456789", 0, -1},
                          Case{"", 0, -1}, Case{"x", -4, 0}, Case{"q", 0, -1}})
        EXPECT_EQ(b.Find(c.pattern, c.from), c.at) << c.pattern << " from " << c.from;
    EXPECT_EQ(b.Find(std::string("\0", 1)), 5);

    tBufferBlock block = b.FindBlock("<", ">");
    EXPECT_TRUE(block.Found);
    EXPECT_EQ(block.StartIndex, 1);
    EXPECT_EQ(block.EndIndex, 4);
    EXPECT_EQ(block.Text, "12");
    EXPECT_EQ(b.ExtractBetween("<", ">"), "12");

    tBuffer touching;
    touching.AddString("<>");
    EXPECT_TRUE(touching.FindBlock("<", ">").Found);
    EXPECT_EQ(touching.FindBlock("<", ">").Text, "");

    tBuffer open;
    open.AddString("ab<cd");
    tBufferBlock none = open.FindBlock("<", ">");
    EXPECT_FALSE(none.Found);
    EXPECT_EQ(none.StartIndex, -1);
    EXPECT_EQ(none.EndIndex, -1);
    EXPECT_EQ(open.AsString(), "ab<cd"); // nothing removed
    EXPECT_EQ(open.Bytes(2), '<');
    EXPECT_EQ(open.Bytes(99), 0);
}

// The framing handler cuts what it found from inside the change event.
TEST(Buffer, HandlerMayCutItsOwnBuffer) {
    tBuffer b;
    std::vector<std::string> packets;
    b.OnChange = [&](tBuffer& buf) {
        for (;;) {
            const int end = buf.Find("\r\n");
            if (end < 0) break;
            packets.push_back(buf.AsString().substr(0, size_t(end)));
            buf.Delete(0, end + 2, true);
        }
    };
    b.AddString("<1>\r\n<2");
    b.AddString(">\r\n\r\n");
    EXPECT_EQ(packets, (std::vector<std::string>{"<1>", "<2>", ""}));
    EXPECT_EQ(b.Count(), 0);
}

// A link's thread appends while the main thread reads and cuts.
TEST(Buffer, FilledFromAnotherThread) {
    tBuffer b;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) b.AddString("<pkt>\r\n");
        done = true;
    });
    int cut = 0;
    while (!done || b.Count() > 0) {
        const tBufferBlock block = b.FindBlock("<", "\r\n");
        if (!block.Found) continue;
        EXPECT_EQ(block.Text, "pkt>");
        b.Delete(block.StartIndex, block.EndIndex + 2 - block.StartIndex, true);
        ++cut;
    }
    writer.join();
    EXPECT_EQ(cut, 20000);
}
