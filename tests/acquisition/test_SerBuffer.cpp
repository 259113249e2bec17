// The ring that an attached receive buffer keeps.

#include "acquisition/SerBuffer.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {
struct TWatch {
    explicit TWatch(TSerBuffer& b) {
        b.OnChange = [this](TSerBuffer&) { ++Changes; };
        b.OnOverflow = [this](TSerBuffer&) { ++Overflows; };
    }
    int Changes = 0;
    int Overflows = 0;
};
} // namespace

TEST(SerBuffer, WritesUntilFull) {
    TSerBuffer b;
    EXPECT_EQ(b.Size(), 2048);
    b.SetSize(10);
    TWatch w(b);
    EXPECT_TRUE(b.Write("abcd", 4));
    EXPECT_EQ(b.Count(), 4);
    EXPECT_EQ(b.Free(), 6);
    EXPECT_FALSE(b.Full());
    // Exactly the free room: ends at the block's end, so the write position wraps to 0.
    EXPECT_TRUE(b.Write("efghij", 6));
    EXPECT_TRUE(b.Full());
    EXPECT_EQ(b.Count(), 10);
    EXPECT_EQ(b.WritePos(), 0);
    EXPECT_EQ(std::string(b.Data().begin(), b.Data().end()), "abcdefghij");
    EXPECT_EQ(w.Changes, 2);
    EXPECT_EQ(w.Overflows, 0);
    EXPECT_FALSE(b.Write("k", 1));
    EXPECT_EQ(w.Overflows, 1);
}

TEST(SerBuffer, TooLargeStoresNothing) {
    struct Case {
        int Size, Before, Count;
        bool Stored;
    };
    for (auto c : {Case{8, 0, 9, false}, Case{8, 5, 4, false}, Case{8, 5, 3, true},
                   Case{8, 0, 8, true}, Case{8, 0, 0, false}, Case{0, 0, 1, false}}) {
        TSerBuffer b;
        b.SetSize(c.Size);
        std::string before(size_t(c.Before), 'x');
        if (c.Before) {
            ASSERT_TRUE(b.Write(before.data(), c.Before));
        }
        TWatch w(b);
        std::string more(size_t(c.Count), 'y');
        EXPECT_EQ(b.Write(more.data(), c.Count), c.Stored);
        EXPECT_EQ(b.Count(), c.Before + (c.Stored ? c.Count : 0));
        EXPECT_EQ(w.Overflows, c.Stored ? 0 : 1);
        EXPECT_EQ(w.Changes, c.Stored ? 1 : 0);
    }
}

TEST(SerBuffer, NewSizeEmptiesTheRing) {
    TSerBuffer b;
    b.SetSize(8);
    b.Write("12345678", 8);
    TWatch w(b);
    b.SetSize(8); // the same size: nothing happens
    EXPECT_EQ(w.Changes, 0);
    EXPECT_TRUE(b.Full());
    int sizeSeen = -1;
    b.OnChange = [&](TSerBuffer& s) {
        ++w.Changes;
        sizeSeen = s.Count();
    };
    b.SetSize(16);
    EXPECT_EQ(w.Changes, 1);
    EXPECT_EQ(sizeSeen, 0); // cleared before the notice
    EXPECT_EQ(b.Size(), 16);
    EXPECT_EQ(b.Count(), 0);
    EXPECT_FALSE(b.Full());
    b.SetSize(-3);
    EXPECT_EQ(b.Size(), 0);
}

TEST(SerBuffer, AttachingAndDetaching) {
    auto port = std::make_unique<TSerComm>();
    TSerBuffer a;
    {
        TSerBuffer b;
        a.SetComm(port.get());
        b.SetComm(port.get());
        EXPECT_EQ(a.Comm(), port.get());
        EXPECT_TRUE(a.Active());
    } // b detaches as it goes
    TSerComm other;
    a.SetComm(&other);
    EXPECT_EQ(a.Comm(), &other);
    a.SetComm(port.get());
    port.reset(); // the port going away leaves its components without one
    EXPECT_EQ(a.Comm(), nullptr);
}
