// The element tree on its own: names, texts, attributes, children, ownership.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "utils/xml.h"

#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"

namespace {

TEST(XmlObject, ValuesAreCopiesAndTheTextFlagFollowsTheText) {
  XmlObject empty;
  EXPECT_EQ(empty.GetBasename(), nullptr);
  EXPECT_EQ(empty.GetNodeText(), nullptr);
  EXPECT_EQ(empty.GetChildernNumber(), 0u);

  wchar_t buffer[] = L"name";
  XmlObject element(buffer);
  element.SetNodeText(buffer);
  element.AppendAttribute(buffer, buffer);
  element.AppendAttribute(buffer, L"2");  // repeats are kept, in order
  element.AppendAttribute(L"b", L"");
  buffer[0] = L'X';
  EXPECT_STREQ(element.GetBasename(), L"name");
  EXPECT_STREQ(element.GetNodeText(), L"name");
  ASSERT_EQ(element.GetAttributeNumber(), 3u);
  EXPECT_STREQ(element.GetAttribute(0).first, L"name");
  EXPECT_STREQ(element.GetAttribute(0).second, L"name");
  EXPECT_STREQ(element.GetAttribute(1).second, L"2");
  EXPECT_STREQ(element.GetAttribute(2).second, L"");
  // Out of range is refused rather than used (null arguments: the flat functions' rows).
  EXPECT_EQ(element.GetAttribute(3).first, nullptr);
  EXPECT_EQ(element.GetAttribute(3).second, nullptr);

  // The very pointer held: nothing changes, the pointer stays valid.
  const wchar_t* held = element.GetBasename();
  element.SetBasename(held);
  EXPECT_EQ(element.GetBasename(), held);
  const wchar_t* text = element.GetNodeText();
  element.SetNodeText(text);
  EXPECT_EQ(element.GetNodeText(), text);
  EXPECT_EQ(element.HasText(), 1);
  // A pointer into the current value (not the value itself) is copied first.
  element.SetBasename(element.GetBasename() + 2);
  EXPECT_STREQ(element.GetBasename(), L"me");
  element.SetNodeText(element.GetNodeText() + 1);
  EXPECT_STREQ(element.GetNodeText(), L"ame");
  element.SetNodeText(nullptr);
  EXPECT_EQ(element.GetNodeText(), nullptr);
  EXPECT_EQ(element.HasText(), 0);
  element.SetNodeText(L"");  // an empty text is a text
  EXPECT_STREQ(element.GetNodeText(), L"");
  EXPECT_EQ(element.HasText(), 1);
}

TEST(XmlObject, AppendChildRefusesWhatWouldBreakOwnership) {
  auto* root = new XmlObject(L"root");
  auto* child = new XmlObject(L"child");
  auto* grandchild = new XmlObject(L"grandchild");
  root->AppendChild(child);
  child->AppendChild(grandchild);

  root->AppendChild(nullptr);     // null is not stored
  root->AppendChild(root);        // itself
  grandchild->AppendChild(root);  // an ancestor: would make a cycle
  root->AppendChild(grandchild);  // already owned by child
  EXPECT_EQ(root->GetChildernNumber(), 1u);
  EXPECT_EQ(child->GetChildernNumber(), 1u);
  EXPECT_EQ(grandchild->GetChildernNumber(), 0u);

  // A child deleted on its own leaves its parent's list: no double release.
  delete grandchild;
  EXPECT_EQ(child->GetChildernNumber(), 0u);

  // A second parent and a cycle through two levels are refused as well.
  auto* other = new XmlObject(L"other");
  auto* moved = new XmlObject(L"moved");
  child->AppendChild(moved);
  other->AppendChild(moved);
  EXPECT_EQ(other->GetChildernNumber(), 0u);  // moved still belongs to child
  child->AppendChild(other);
  other->AppendChild(child);  // child is other's parent now: refused
  EXPECT_EQ(other->GetChildernNumber(), 0u);
  delete root;  // the sanitizer build checks that nothing is freed twice or leaked
}

// Callers built by other compilers, and classes derived from XmlObject in other
// modules, rely on the class's layout: the virtual table pointer and five fields.
TEST(XmlObject, KeepsItsLayout) {
  static_assert(sizeof(XmlObject) == (sizeof(void*) == 8 ? 48 : 24));

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"  // destroyed as a plain XmlObject on purpose
  struct Derived : XmlObject {
    unsigned guard = 0xC0FFEEu;
  };
#pragma GCC diagnostic pop
  auto* parent = new XmlObject(L"p");
  auto* derived = new Derived;
  derived->SetNodeText(L"t");
  parent->AppendChild(derived);
  derived->AppendChild(new XmlObject(L"c"));
  EXPECT_EQ(derived->guard, 0xC0FFEEu);  // the library writes only its own fields
  delete parent;
}

}  // namespace
