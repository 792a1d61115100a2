#include <gtest/gtest.h>

#include <vector>

#include "utils/primitives.h"

namespace {

TEST(ByteOrderTest, LoadsAndStoresAtAnyAlignment) {
  BYTE b[9] = {0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};  // from b + 1: odd addresses
  EXPECT_EQ(0x1234, BEtoHost16(b + 1));
  EXPECT_EQ(0x3412, LEtoHost16(b + 1));
  EXPECT_EQ(0x12345678u, BEtoHost32(b + 1));
  EXPECT_EQ(0x78563412u, LEtoHost32(b + 1));
  EXPECT_EQ(0x123456789ABCDEF0ULL, BEtoHost64(b + 1));
  StoreBE64(b + 1, 0x0102030405060708ULL);
  EXPECT_EQ((std::vector<BYTE>{1, 2, 3, 4, 5, 6, 7, 8}), std::vector<BYTE>(b + 1, b + 9));
  StoreLE32(b, 0x11223344);
  EXPECT_EQ((std::vector<BYTE>{0x44, 0x33, 0x22, 0x11}), std::vector<BYTE>(b, b + 4));
  StoreBE32(b, 0x11223344);
  EXPECT_EQ((std::vector<BYTE>{0x11, 0x22, 0x33, 0x44}), std::vector<BYTE>(b, b + 4));
  StoreLE16(b, 0xA1B2);
  EXPECT_EQ(0xA1B2, LEtoHost16(b));
  StoreBE16(b, 0xA1B2);
  EXPECT_EQ(0xA1B2, BEtoHost16(b));
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

TEST_F(ListTest, InsertRemoveAndMembership) {
  _InsertHeadList(&head_, &a_);
  _InsertHeadList(&head_, &b_);
  EXPECT_EQ((std::vector<LIST_ENTRY*>{&b_, &a_}), forward());
  SetUp();
  EXPECT_FALSE(IsNodeOnList(&head_, &head_));
  _InsertTailList(&head_, &a_);
  EXPECT_EQ(&a_, _RemoveHeadList(&head_));
  EXPECT_TRUE(forward().empty());
  EXPECT_EQ(&head_, a_.Flink);  // the removed entry keeps its links
  EXPECT_EQ(&head_, a_.Blink);
  EXPECT_EQ(&head_, _RemoveHeadList(&head_));  // empty: the head comes back

  for (LIST_ENTRY* entry : {&a_, &b_, &c_}) _InsertTailList(&head_, entry);
  EXPECT_TRUE(IsNodeOnList(&head_, &c_));
  EXPECT_FALSE(IsNodeOnList(&head_, &head_));
  EXPECT_EQ(1, RemoveEntryList(&b_));
  EXPECT_EQ(nullptr, b_.Flink);
  EXPECT_EQ(nullptr, b_.Blink);
  EXPECT_FALSE(IsNodeOnList(&head_, &b_));
  EXPECT_EQ((std::vector<LIST_ENTRY*>{&a_, &c_}), forward());
  EXPECT_TRUE(IsListCircular(&head_));
  // Removed once already: its links are null, so a second removal does nothing.
  EXPECT_EQ(0, RemoveEntryList(&b_));
  LIST_ENTRY halfLinked{&a_, nullptr};
  EXPECT_EQ(0, RemoveEntryList(&halfLinked));
  EXPECT_EQ(&a_, halfLinked.Flink);
  EXPECT_EQ((std::vector<LIST_ENTRY*>{&a_, &c_}), forward());

  // A head whose links were never set up is not followed.
  LIST_ENTRY zeroed{};
  EXPECT_EQ(nullptr, _RemoveHeadList(&zeroed));
  _InsertTailList(&zeroed, &b_);
  _InsertHeadList(&zeroed, &b_);
  _InsertHeadList(&head_, nullptr);
  EXPECT_EQ(nullptr, zeroed.Flink);
  EXPECT_EQ(nullptr, zeroed.Blink);
  EXPECT_EQ((std::vector<LIST_ENTRY*>{&a_, &c_}), forward());

  // A back link that does not match, and a chain that never returns to the
  // head, are not circular; the search ends at the null link.
  a_.Blink = &c_;
  EXPECT_FALSE(IsListCircular(&head_));
  a_.Blink = &head_;
  c_.Flink = nullptr;
  EXPECT_FALSE(IsListCircular(&head_));
  EXPECT_FALSE(IsNodeOnList(&head_, &b_));
}

// Thin wrappers over the C library's: what they add is the sense of their
// answers (null pointers are the null-argument test's).
TEST(MemoryTest, CompareSensesAreOpposite) {
  const BYTE source[4] = {1, 2, 3, 4};
  BYTE buffer[4] = {};
  EXPECT_EQ(buffer, OS_MemSet(buffer, 1, 1));
  EXPECT_EQ(buffer, OS_MemCopy(buffer, nullptr, 0));
  // OS_MemCmp answers "equal" with 1, OS_StrCmp with 0.
  EXPECT_EQ(1, OS_MemCmp(source, 1, buffer, 1));
  EXPECT_EQ(0, OS_MemCmp(source, 4, buffer, 4));
  EXPECT_EQ(0, OS_MemCmp(source, 3, source, 4));
  EXPECT_EQ(1, OS_MemCmp(nullptr, 0, nullptr, 0));
  EXPECT_EQ(0, OS_StrCmp("abc", "abc"));
  EXPECT_EQ(1, OS_StrCmp("ab", "abc"));
  EXPECT_EQ(1, OS_StrCmp("abd", "abc"));
  EXPECT_EQ(5u, OS_StrLen("hello"));
}

}  // namespace
