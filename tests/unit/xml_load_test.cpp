// Loading on the simulated DOM: result codes, the tree walk, reading faults.
#include <gtest/gtest.h>

#include <memory>

#include "port/sim/sim_platform.h"
#include "utils/xml.h"

#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"

namespace {

using utils::port::XmlLoadStep;
using utils::sim::SimXmlNode;

class XmlLoadSim : public ::testing::Test {
 protected:
  void SetUp() override { sim_.install(); }
  void TearDown() override { EXPECT_EQ(sim_.xmlDom.liveObjects, 0) << "a DOM object outlived its call"; }

  void addFile(const std::wstring& path, SimXmlNode root) { sim_.xmlDom.files[path].root = std::move(root); }

  utils::sim::SimPlatform sim_;
  XmlObject* const sentinel_ = reinterpret_cast<XmlObject*>(0x1234);
};

TEST_F(XmlLoadSim, EachFailingStepGivesItsCodeAndLeavesOutUntouched) {
  addFile(L"doc.xml", SimXmlNode::element(L"a"));
  sim_.xmlDom.schemas[L"good.xsd"] = {true, true, L"a"};
  sim_.xmlDom.schemas[L"broken.xsd"] = {false, true, L"a"};
  sim_.xmlDom.schemas[L"unusable.xsd"] = {true, false, L"a"};
  sim_.xmlDom.schemas[L"other.xsd"] = {true, true, L"b"};

  XmlObject* out = sentinel_;
  EXPECT_EQ(XmlObject::Load(L"missing.xml", &out, L""), OBJECT_ERROR_LOAD_DOCUMENT);
  EXPECT_EQ(XmlObject::Load(L"doc.xml", &out, L"missing.xsd"), OBJECT_ERROR_LOAD_SCHEMA);
  EXPECT_EQ(XmlObject::Load(L"doc.xml", &out, L"broken.xsd"), OBJECT_ERROR_LOAD_SCHEMA);
  EXPECT_EQ(XmlObject::Load(L"doc.xml", &out, L"unusable.xsd"), OBJECT_ERROR_ADD_SCHEMA);
  EXPECT_EQ(XmlObject::Load(L"doc.xml", &out, L"other.xsd"), OBJECT_ERROR_VALIDATE);
  sim_.xmlDom.failStep = XmlLoadStep::kCreateDocument;
  EXPECT_EQ(XmlObject::Load(L"doc.xml", &out, L""), OBJECT_ERROR_CREATE_DOCUMENT);
  sim_.xmlDom.failStep = XmlLoadStep::kCreateSchemaCache;
  EXPECT_EQ(XmlObject::Load(L"doc.xml", &out, L"good.xsd"), OBJECT_ERROR_CREATE_SCHEMA_CACHE);
  sim_.xmlDom.failStep = XmlLoadStep::kRootNode;
  EXPECT_EQ(XmlObject::Load(L"doc.xml", &out, L""), OBJECT_ERROR_ROOT_NODE);
  sim_.xmlDom.failStep = XmlLoadStep::kNone;
  // Faults that a streaming reader finds only at the end discard the tree.
  sim_.xmlDom.lateOutcome = XmlLoadStep::kLoadDocument;
  EXPECT_EQ(XmlObject::Load(L"doc.xml", &out, L""), OBJECT_ERROR_LOAD_DOCUMENT);
  sim_.xmlDom.lateOutcome = XmlLoadStep::kValidate;
  EXPECT_EQ(XmlObject::Load(L"doc.xml", &out, L"good.xsd"), OBJECT_ERROR_VALIDATE);
  EXPECT_EQ(out, sentinel_);
  sim_.xmlDom.lateOutcome = XmlLoadStep::kNone;

  // A missing schema fails before the document is opened.
  sim_.xmlDom.opened.clear();
  EXPECT_EQ(XmlObject::Load(L"doc.xml", &out, L"missing.xsd"), OBJECT_ERROR_LOAD_SCHEMA);
  EXPECT_EQ(sim_.xmlDom.opened, std::vector<std::wstring>{L"missing.xsd"});
  // An empty or null schema path opens no schema, so an "invalid" file loads.
  sim_.xmlDom.opened.clear();
  ASSERT_EQ(XmlObject::Load(L"doc.xml", &out, L""), OBJECT_ERROR_NONE);
  delete out;
  ASSERT_EQ(XmlObject::Load(L"doc.xml", &out, nullptr), OBJECT_ERROR_NONE);
  delete out;
  EXPECT_EQ(sim_.xmlDom.opened, (std::vector<std::wstring>{L"doc.xml", L"doc.xml"}));
  ASSERT_EQ(XmlObject::Load(L"doc.xml", &out, L"good.xsd"), OBJECT_ERROR_NONE);
  delete out;
  EXPECT_EQ(XmlObject::Load(nullptr, &out, L""), OBJECT_ERROR_LOAD_DOCUMENT);
}

TEST_F(XmlLoadSim, WalkKeepsOrderAndTheLastTextAndSkipsOtherNodes) {
  addFile(L"doc.xml",
          SimXmlNode::element(L"a", {{L"x", L"1"}, {L"x", L"2"}, {L"e", L""}},
                              {SimXmlNode::textNode(L"first"), SimXmlNode::element(L"b", {}, {SimXmlNode::other()}),
                               SimXmlNode::other(), SimXmlNode::textNode(L"last"),
                               SimXmlNode::element(L"c", {}, {SimXmlNode::textNode(L" \t\r\n")}),
                               SimXmlNode::element(L"d", {}, {SimXmlNode::element(L"e")}), SimXmlNode()}));
  XmlObject* out = nullptr;
  ASSERT_EQ(XmlObject::Load(L"doc.xml", &out, L""), OBJECT_ERROR_NONE);
  std::unique_ptr<XmlObject> root(out);
  EXPECT_STREQ(root->GetBasename(), L"a");
  ASSERT_EQ(root->GetAttributeNumber(), 3u);
  EXPECT_STREQ(root->GetAttribute(1).second, L"2");
  EXPECT_STREQ(root->GetAttribute(2).second, L"");
  EXPECT_STREQ(root->GetNodeText(), L"last");
  ASSERT_EQ(root->GetChildernNumber(), 4u);
  EXPECT_STREQ(root->GetChild(0)->GetBasename(), L"b");
  EXPECT_EQ(root->GetChild(0)->HasText(), 0);
  EXPECT_STREQ(root->GetChild(1)->GetBasename(), L"c");
  EXPECT_EQ(root->GetChild(1)->HasText(), 0);  // white space only is no text
  ASSERT_EQ(root->GetChild(2)->GetChildernNumber(), 1u);
  EXPECT_STREQ(root->GetChild(2)->GetChild(0)->GetBasename(), L"e");
  EXPECT_EQ(root->GetChild(3)->GetBasename(), nullptr);  // an element without a name loads without one
}

TEST_F(XmlLoadSim, ReadingFaultsLeaveAPartialButValidTree) {
  SimXmlNode noMap = SimXmlNode::element(L"nomap", {{L"k", L"v"}}, {SimXmlNode::element(L"lost")});
  noMap.failAttributeMap = true;
  SimXmlNode badItem =
      SimXmlNode::element(L"baditem", {{L"k1", L"1"}, {L"k2", L"2"}, {L"k3", L"3"}}, {SimXmlNode::element(L"lost")});
  badItem.failAttributeAt = 1;
  SimXmlNode noList = SimXmlNode::element(L"nolist", {{L"k", L"v"}}, {SimXmlNode::element(L"lost")});
  noList.failChildList = true;
  SimXmlNode badChild = SimXmlNode::element(
      L"badchild", {}, {SimXmlNode::element(L"kept"), SimXmlNode::element(L"lost"), SimXmlNode::element(L"lost")});
  badChild.failChildAt = 1;
  addFile(L"doc.xml", SimXmlNode::element(L"r", {}, {noMap, badItem, noList, badChild, SimXmlNode::element(L"z")}));

  XmlObject* out = nullptr;
  ASSERT_EQ(XmlObject::Load(L"doc.xml", &out, L""), OBJECT_ERROR_NONE);
  std::unique_ptr<XmlObject> root(out);
  ASSERT_EQ(root->GetChildernNumber(), 5u);
  XmlObject* first = root->GetChild(0);
  EXPECT_STREQ(first->GetBasename(), L"nomap");
  EXPECT_EQ(first->GetAttributeNumber(), 0u);
  EXPECT_EQ(first->GetChildernNumber(), 0u);
  XmlObject* second = root->GetChild(1);
  ASSERT_EQ(second->GetAttributeNumber(), 1u);
  EXPECT_STREQ(second->GetAttribute(0).first, L"k1");
  EXPECT_EQ(second->GetChildernNumber(), 0u);
  XmlObject* third = root->GetChild(2);
  EXPECT_EQ(third->GetAttributeNumber(), 1u);
  EXPECT_EQ(third->GetChildernNumber(), 0u);
  XmlObject* fourth = root->GetChild(3);
  ASSERT_EQ(fourth->GetChildernNumber(), 1u);
  EXPECT_STREQ(fourth->GetChild(0)->GetBasename(), L"kept");
  EXPECT_STREQ(root->GetChild(4)->GetBasename(), L"z");
}

}  // namespace
