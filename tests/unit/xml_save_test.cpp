// Saving on the simulated DOM, and the flat functions over the same trees.
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "port/sim/sim_platform.h"
#include "sim_fixture.h"
#include "utils/xml.h"
#include "xml/xml_chars.h"

#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace {

using utils::sim::SimXmlNode;

class XmlSaveSim : public utils::test::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    load(4, 0);  // the library's own trace lines are level 4
  }
  void TearDown() override {
    EXPECT_EQ(sim_.xmlDom.liveObjects, 0);
    SimTest::TearDown();
  }

  const utils::sim::SimXmlDocument& saved(const std::wstring& path) { return sim_.xmlDom.files.at(path); }
  // The trace lines written since the last call, each from "[utils]" on.
  std::vector<std::string> takeLines() {
    std::vector<std::string> out;
    for (const std::string& line : lines()) out.push_back(line.substr(line.find("[utils]")));
    sim_.debugOutput.clear();
    return out;
  }
};

TEST_F(XmlSaveSim, FailedWritesReturnZeroAndSayWhy) {
  XmlObject a(L"a");
  sim_.xmlDom.unwritablePaths.push_back(L"nofolder/out.xml");
  EXPECT_EQ(a.Save(L"nofolder/out.xml"), 0);
  EXPECT_EQ(sim_.xmlDom.files.count(L"nofolder/out.xml"), 0u);
  EXPECT_EQ(takeLines(), std::vector<std::string>{"[utils][XmlObject::Save] Writing nofolder/out.xml failed - 0x3\n"});
  EXPECT_EQ(a.Save(nullptr), 0);
  EXPECT_EQ(a.Save(L""), 0);
  EXPECT_EQ(takeLines().size(), 2u);
  // A name or text XML cannot carry anywhere in the tree: nothing is written
  // (what each adapter refuses, and that the old file stays, are their tests').
  XmlObject tree(L"r");
  tree.AppendChild(new XmlObject(L"ok"));
  tree.GetChild(0)->AppendChild(new XmlObject(L"1bad"));
  EXPECT_EQ(tree.Save(L"out.xml"), 0);
  EXPECT_EQ(sim_.xmlDom.files.count(L"out.xml"), 0u);
  EXPECT_EQ(takeLines(), std::vector<std::string>{"[utils][XmlObject::Save] The tree holds a name or text that XML "
                                                  "cannot carry; out.xml was not written\n"});
  sim_.xmlDom.failCreateDocument = true;
  EXPECT_EQ(a.Save(L"out.xml"), 0);
  EXPECT_EQ(sim_.xmlDom.files.count(L"out.xml"), 0u);
  EXPECT_EQ(takeLines(), std::vector<std::string>{
                             "[utils][XmlObject::Save] No XML document could be made; out.xml was not written\n"});
}

TEST(XmlChars, NamesAndTextsThatXmlCannotCarryAreRefused) {
  using utils::xml::isXmlName;
  using utils::xml::isXmlText;
  const auto units = [](const std::wstring& value) {
    std::string out;
    for (wchar_t c : value) out += std::to_string(static_cast<unsigned>(c)) + " ";
    return out;
  };
  for (std::wstring name : {L"a", L"p:c-d_e.\u00E9\u00B7", L"_\u0300\u203F", L"\U0001F600"}) {
    EXPECT_TRUE(isXmlName(name.c_str()) && isXmlText(name.c_str())) << units(name);
  }
  for (std::wstring text : {L"1a", L"a b", L"-x", L"a<", L"", L"\t\r\n \u20AC\u0085", L"\U0010FFFF"}) {
    EXPECT_TRUE(!isXmlName(text.c_str()) && isXmlText(text.c_str())) << units(text);
  }
  std::vector<std::wstring> neither;
  for (wchar_t unit : {0x1, 0xB, 0xFFFE, 0xFFFF, 0xD800, 0xDFFF}) neither.push_back(std::wstring(L"ok") + unit + L"ok");
  if constexpr (sizeof(wchar_t) == 4) neither.push_back(std::wstring(1, static_cast<wchar_t>(0x110000)));
  for (const std::wstring& bad : neither) EXPECT_TRUE(!isXmlName(bad.c_str()) && !isXmlText(bad.c_str())) << units(bad);
  EXPECT_FALSE(isXmlName(nullptr));
  EXPECT_FALSE(isXmlText(nullptr));
}

// A derived class reaches the building step directly, with the flag that goes
// on past failures.
class TolerantSaver : public XmlObject {
 public:
  using XmlObject::XmlObject;
  int Save(const wchar_t* path) override {
    ++saves;
    std::unique_ptr<utils::port::DomWriteDocument> document;
    if (utils::port::platform().xmlDom->createDocument(&document) != 0) return 0;
    built = ConstructDomFromObject(*document, nullptr, true);
    document->save(path);
    return 7;
  }
  int saves = 0;
  int built = -1;
};

TEST_F(XmlSaveSim, FlagSkipsFailedAttributesAndChildrenOfTheElementItself) {
  TolerantSaver root(L"r");
  root.AppendAttribute(L"bad name", L"v");
  root.AppendAttribute(L"good", L"v");
  root.AppendAttribute(L"next", L"n");
  root.AppendAttribute(L"bad-value", L"\x01");
  root.AppendAttribute(L"good", L"last");  // the same name again: first place, last value
  root.SetNodeText(L"bad\x02");
  root.AppendChild(new XmlObject(L"1bad"));
  auto* deep = new XmlObject(L"fine");
  deep->AppendChild(new XmlObject(L""));  // fails its parent, which the flag skips
  root.AppendChild(deep);
  root.AppendChild(new XmlObject(L"kept"));
  // The flat save goes through the virtual table.
  EXPECT_EQ(SaveXmlObject(&root, L"t.xml"), 7);
  EXPECT_EQ(root.saves, 1);
  EXPECT_EQ(root.built, 1);
  const SimXmlNode& saved_root = *saved(L"t.xml").root;
  EXPECT_EQ(saved_root.attributes,
            (std::vector<std::pair<std::wstring, std::wstring>>{{L"good", L"last"}, {L"next", L"n"}}));
  ASSERT_EQ(saved_root.children.size(), 1u);
  EXPECT_EQ(saved_root.children[0].name, L"kept");
}

TEST_F(XmlSaveSim, FlatFunctionsForwardAndLetNoExceptionOut) {
  XmlObject* root = CreateXmlObject();
  SetXmlElementName(root, L"root");
  SetXmlElementNodeText(root, L"text");
  AppendXmlAttribute(root, L"k", L"v");
  XmlObject* child = CreateXmlObject();
  SetXmlElementName(child, L"child");
  AppendXmlChild(root, child);
  EXPECT_STREQ(GetXmlElementName(root), L"root");
  EXPECT_STREQ(GetXmlNodeText(root), L"text");
  EXPECT_EQ(IsXmlNodeHasText(root), 1);
  EXPECT_STREQ(GetXmlAttributeNameByIndex(root, 0), L"k");
  EXPECT_STREQ(GetXmlAttributeValueByIndex(root, 0), L"v");
  EXPECT_EQ(GetXmlAttributeNameByIndex(root, 1), nullptr);
  EXPECT_EQ(GetXmlChildernNumber(root), 1u);
  EXPECT_EQ(GetXmlChildByIndex(root, 0), child);
  EXPECT_EQ(GetXmlChildByIndex(root, 1), nullptr);

  EXPECT_EQ(SaveXmlObject(root, L"flat.xml"), 1);
  EXPECT_EQ(takeLines(), std::vector<std::string>{}) << "a save that succeeds writes no trace line";
  XmlObject* loaded = LoadXmlObject(L"flat.xml", L"");
  ASSERT_NE(loaded, nullptr);
  EXPECT_STREQ(GetXmlElementName(GetXmlChildByIndex(loaded, 0)), L"child");
  DestroyXmlObject(loaded);
  EXPECT_EQ(LoadXmlObject(L"missing.xml", L""), nullptr);

  // No exception leaves a flat function: a Save that throws gives 0, a load
  // that runs out of memory gives null.
  class ThrowingSave : public XmlObject {
   public:
    int Save(const wchar_t*) override { throw std::bad_alloc(); }
  } throwing;
  EXPECT_EQ(SaveXmlObject(&throwing, L"x.xml"), 0);
  sim_.xmlDom.loadRunsOutOfMemory = true;
  EXPECT_EQ(LoadXmlObject(L"flat.xml", L""), nullptr);
  XmlObject* untouched = nullptr;
  EXPECT_THROW(XmlObject::Load(L"flat.xml", &untouched, L""), std::bad_alloc);
  EXPECT_EQ(untouched, nullptr);
  sim_.xmlDom.loadRunsOutOfMemory = false;

  // Destroying the child handle first is safe: it leaves its parent.
  DestroyXmlObject(child);
  EXPECT_EQ(GetXmlChildernNumber(root), 0u);
  DestroyXmlObject(root);
}

}  // namespace
