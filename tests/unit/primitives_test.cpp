#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "utils/primitives.h"

namespace {

TEST(ByteOrderTest, LoadsAndStores) {
  const BYTE b[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
  EXPECT_EQ(0x1234, BEtoHost16(b));
  EXPECT_EQ(0x3412, LEtoHost16(b));
  EXPECT_EQ(0x12345678u, BEtoHost32(b));
  EXPECT_EQ(0x78563412u, LEtoHost32(b));
  EXPECT_EQ(0x123456789ABCDEF0ULL, BEtoHost64(b));

  // Odd addresses read the same as aligned copies.
  BYTE unaligned[9] = {0};
  std::memcpy(unaligned + 1, b, 8);
  EXPECT_EQ(BEtoHost64(b), BEtoHost64(unaligned + 1));
  EXPECT_EQ(LEtoHost32(b), LEtoHost32(unaligned + 1));

  BYTE out[9] = {0};
  StoreBE64(out + 1, 0x0102030405060708ULL);
  EXPECT_EQ((std::vector<BYTE>{1, 2, 3, 4, 5, 6, 7, 8}), std::vector<BYTE>(out + 1, out + 9));
  StoreLE32(out, 0x11223344);
  EXPECT_EQ((std::vector<BYTE>{0x44, 0x33, 0x22, 0x11}), std::vector<BYTE>(out, out + 4));
  StoreBE32(out, 0x11223344);
  EXPECT_EQ((std::vector<BYTE>{0x11, 0x22, 0x33, 0x44}), std::vector<BYTE>(out, out + 4));
  StoreLE16(out, 0xA1B2);
  EXPECT_EQ(0xA1B2, LEtoHost16(out));
  StoreBE16(out, 0xA1B2);
  EXPECT_EQ(0xA1B2, BEtoHost16(out));
}

class ListTest : public ::testing::Test {
 protected:
  void SetUp() override { head_.Flink = head_.Blink = &head_; }
  std::vector<LIST_ENTRY*> forward() {
    std::vector<LIST_ENTRY*> order;
    for (LIST_ENTRY* p = head_.Flink; p != &head_; p = p->Flink) order.push_back(p);
    return order;
  }
  LIST_ENTRY head_{};
  LIST_ENTRY a_{}, b_{}, c_{};
};

TEST_F(ListTest, InsertAndRemove) {
  _InsertHeadList(&head_, &a_);
  _InsertHeadList(&head_, &b_);
  EXPECT_EQ((std::vector<LIST_ENTRY*>{&b_, &a_}), forward());
  SetUp();
  _InsertTailList(&head_, &a_);
  EXPECT_EQ(&a_, _RemoveHeadList(&head_));
  EXPECT_TRUE(forward().empty());
  EXPECT_EQ(&head_, a_.Flink);  // the removed entry keeps its links
  EXPECT_EQ(&head_, a_.Blink);
  EXPECT_EQ(&head_, _RemoveHeadList(&head_));  // empty: the head comes back
  EXPECT_TRUE(IsListCircular(&head_));

  _InsertTailList(&head_, &a_);
  _InsertTailList(&head_, &b_);
  _InsertTailList(&head_, &c_);
  EXPECT_EQ(1, RemoveEntryList(&b_));
  EXPECT_EQ(nullptr, b_.Flink);
  EXPECT_EQ(nullptr, b_.Blink);
  EXPECT_EQ((std::vector<LIST_ENTRY*>{&a_, &c_}), forward());
  RemoveEntryList(&a_);
  RemoveEntryList(&c_);
  EXPECT_TRUE(forward().empty());
  EXPECT_TRUE(IsListCircular(&head_));
}

TEST_F(ListTest, DetachedEntriesAndNullLinksAreNotFollowed) {
  _InsertTailList(&head_, &a_);
  _InsertTailList(&head_, &b_);
  EXPECT_EQ(1, RemoveEntryList(&a_));
  // Removed once already: its links are null, so a second removal does nothing.
  EXPECT_EQ(0, RemoveEntryList(&a_));
  EXPECT_EQ((std::vector<LIST_ENTRY*>{&b_}), forward());
  EXPECT_TRUE(IsListCircular(&head_));
  LIST_ENTRY halfLinked{&b_, nullptr};
  EXPECT_EQ(0, RemoveEntryList(&halfLinked));
  EXPECT_EQ(&b_, halfLinked.Flink);
  EXPECT_EQ((std::vector<LIST_ENTRY*>{&b_}), forward());

  // Null arguments and a head whose links were never set up.
  EXPECT_EQ(0, RemoveEntryList(nullptr));
  EXPECT_EQ(0, IsNodeOnList(nullptr, &a_));
  EXPECT_EQ(0, IsListCircular(nullptr));
  LIST_ENTRY zeroed{};
  EXPECT_EQ(nullptr, _RemoveHeadList(&zeroed));
  EXPECT_EQ(nullptr, _RemoveHeadList(nullptr));
  _InsertTailList(&zeroed, &c_);
  _InsertHeadList(&zeroed, &c_);
  _InsertTailList(nullptr, &c_);
  _InsertHeadList(&head_, nullptr);
  EXPECT_EQ(nullptr, zeroed.Flink);
  EXPECT_EQ(nullptr, zeroed.Blink);
  EXPECT_EQ((std::vector<LIST_ENTRY*>{&b_}), forward());
}

TEST_F(ListTest, MembershipAndConsistency) {
  EXPECT_FALSE(IsNodeOnList(&head_, &head_));
  _InsertTailList(&head_, &a_);
  _InsertTailList(&head_, &b_);
  EXPECT_TRUE(IsNodeOnList(&head_, &a_));
  EXPECT_TRUE(IsNodeOnList(&head_, &b_));
  EXPECT_FALSE(IsNodeOnList(&head_, &c_));
  EXPECT_FALSE(IsNodeOnList(&head_, &head_));
  RemoveEntryList(&a_);
  EXPECT_FALSE(IsNodeOnList(&head_, &a_));

  EXPECT_TRUE(IsListCircular(&head_));
  b_.Blink = &c_;
  EXPECT_FALSE(IsListCircular(&head_));
  b_.Blink = &head_;

  // A broken chain that never returns to the head ends at its null link.
  _InsertTailList(&head_, &c_);
  c_.Flink = nullptr;
  EXPECT_FALSE(IsListCircular(&head_));
  EXPECT_FALSE(IsNodeOnList(&head_, &a_));
}

TEST(MemoryTest, CopySetCompare) {
  BYTE buffer[4] = {0};
  const BYTE source[4] = {1, 2, 3, 4};
  EXPECT_EQ(buffer, OS_MemCopy(buffer, source, 4));
  EXPECT_EQ(0, std::memcmp(buffer, source, 4));
  EXPECT_EQ(buffer, OS_MemSet(buffer, 0xAB, 3));
  EXPECT_EQ((std::vector<BYTE>{0xAB, 0xAB, 0xAB, 4}), std::vector<BYTE>(buffer, buffer + 4));
  EXPECT_EQ(buffer, OS_MemCopy(buffer, nullptr, 0));

  EXPECT_EQ(1, OS_MemCmp(source, 4, source, 4));
  EXPECT_EQ(0, OS_MemCmp(source, 3, source, 4));
  EXPECT_EQ(1, OS_MemCmp(nullptr, 0, nullptr, 0));
  EXPECT_EQ(0, OS_MemCmp(source, 4, buffer, 4));
}

TEST(MemoryTest, NarrowStrings) {
  EXPECT_EQ(0, OS_StrCmp("abc", "abc"));
  EXPECT_EQ(1, OS_StrCmp("ab", "abc"));
  EXPECT_EQ(1, OS_StrCmp("abd", "abc"));
  EXPECT_EQ(0, OS_StrCmp("", ""));
  EXPECT_EQ(0u, OS_StrLen(""));
  EXPECT_EQ(5u, OS_StrLen("hello"));
}

}  // namespace
