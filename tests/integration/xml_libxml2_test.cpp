// Load and save on the real libxml2 adapter: the documents of the edge-case list,
// encodings, safety against hostile input, silence on stderr, atomic saves.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "utils/xml.h"
#include "xml_test_support.h"

#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"

namespace {

namespace fs = std::filesystem;

class XmlLibxml2 : public XmlFileTest {
 protected:
  std::wstring write(const std::string& name, const std::string& bytes) {
    return XmlFileTest::write(name, bytes).wstring();
  }
  std::unique_ptr<XmlObject> load(const std::string& xml, OBJECT_ERROR_CODE expected = OBJECT_ERROR_NONE,
                                  const std::wstring& schema = L"") {
    XmlObject* out = sentinel();
    EXPECT_EQ(XmlObject::Load(write("doc.xml", xml).c_str(), &out, schema.c_str()), expected) << xml;
    if (expected != OBJECT_ERROR_NONE) {
      EXPECT_EQ(out, sentinel());
      return nullptr;
    }
    return std::unique_ptr<XmlObject>(out);
  }
  static XmlObject* sentinel() { return reinterpret_cast<XmlObject*>(0x5a5a); }
};

TEST_F(XmlLibxml2, EdgeCaseDocumentsLoadAsExpected) {
  auto mixed = load("<a>x<b/>y</a>");
  EXPECT_STREQ(mixed->GetNodeText(), L"y");
  ASSERT_EQ(mixed->GetChildernNumber(), 1u);
  EXPECT_EQ(mixed->GetChild(0)->HasText(), 0);

  EXPECT_EQ(load("<a><![CDATA[only]]></a>")->HasText(), 0);
  EXPECT_EQ(load("<a/>")->HasText(), 0);
  auto blank = load("<a>\n  <b/>\n\t</a>");
  EXPECT_EQ(blank->HasText(), 0);
  EXPECT_EQ(blank->GetChildernNumber(), 1u);

  auto ns = load("<p:a xmlns:p='u:1' p:b='1'/>");
  EXPECT_STREQ(ns->GetBasename(), L"a");
  ASSERT_EQ(ns->GetAttributeNumber(), 2u);
  EXPECT_STREQ(ns->GetAttribute(0).first, L"p");
  EXPECT_STREQ(ns->GetAttribute(0).second, L"u:1");
  EXPECT_STREQ(ns->GetAttribute(1).first, L"b");
  EXPECT_STREQ(ns->GetAttribute(1).second, L"1");
  auto defaultNs = load("<a xmlns='u:2'/>");
  EXPECT_STREQ(defaultNs->GetAttribute(0).first, L"xmlns");
  EXPECT_STREQ(load("<x:r xmlns:x='u'/>")->GetBasename(), L"r");

  auto empty = load("<a b=''/>");
  ASSERT_NE(empty->GetAttribute(0).second, nullptr);
  EXPECT_STREQ(empty->GetAttribute(0).second, L"");

  EXPECT_STREQ(load("<!DOCTYPE a [<!ELEMENT a (#PCDATA)>]><a>t</a>")->GetNodeText(), L"t");
  EXPECT_STREQ(load("<a>x<!--c-->y</a>")->GetNodeText(), L"y");
  EXPECT_STREQ(load("<a>x<?pi d?>y<![CDATA[z]]></a>")->GetNodeText(), L"y");

  // References are expanded in text and in normalised attribute values.
  auto refs = load("<!DOCTYPE a [<!ENTITY e 'vee'>]><a k='1&amp;&#60;&e;&#x20AC;\t2\n3'>&lt;&e;&#65;</a>");
  EXPECT_STREQ(refs->GetAttribute(0).second, L"1&<vee\u20AC 2 3");
  EXPECT_STREQ(refs->GetNodeText(), L"<veeA");
  // A comment after the root element: the root element is read.
  EXPECT_STREQ(load("<r/><!-- trailing -->")->GetBasename(), L"r");
}

TEST_F(XmlLibxml2, EncodingsComeFromTheByteOrderMarkAndDeclaration) {
  std::string utf16le = "\xFF\xFE";
  for (char c : std::string("<?xml version='1.0' encoding='UTF-16'?><a t='\xE9'>x</a>")) {
    utf16le += c;
    utf16le += '\0';
  }
  // 0xE9 as a UTF-16 unit: U+00E9.
  auto fromUtf16 = load(utf16le);
  EXPECT_STREQ(fromUtf16->GetAttribute(0).second, L"\u00E9");
  auto latin1 = load("<?xml version='1.0' encoding='ISO-8859-1'?><a>caf\xE9</a>");
  EXPECT_STREQ(latin1->GetNodeText(), L"caf\u00E9");
  auto utf8 = load("\xEF\xBB\xBF<a>\xE2\x82\xAC\xF0\x9F\x98\x80</a>");
  EXPECT_EQ(std::wstring(utf8->GetNodeText()), std::wstring(L"\u20AC") + static_cast<wchar_t>(0x1F600));
}

TEST_F(XmlLibxml2, FailuresGiveTheirCodesAndLeaveOutUntouched) {
  XmlObject* out = sentinel();
  EXPECT_EQ(XmlObject::Load((dir_ / "missing.xml").wstring().c_str(), &out, L""), OBJECT_ERROR_LOAD_DOCUMENT);
  EXPECT_EQ(XmlObject::Load(dir_.wstring().c_str(), &out, L""), OBJECT_ERROR_LOAD_DOCUMENT);  // a folder
  EXPECT_EQ(out, sentinel());
  load("<a><b></a>", OBJECT_ERROR_LOAD_DOCUMENT);
  load("<a/><b/>", OBJECT_ERROR_LOAD_DOCUMENT);
  load("<a>", OBJECT_ERROR_LOAD_DOCUMENT);
  load("", OBJECT_ERROR_LOAD_DOCUMENT);
  load("<p:a/>", OBJECT_ERROR_LOAD_DOCUMENT);  // undeclared prefix
  load("<a>&undeclared;</a>", OBJECT_ERROR_LOAD_DOCUMENT);

  const std::wstring schema = write("s.xsd",
                                    "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'>"
                                    "<xs:element name='a'><xs:complexType><xs:sequence>"
                                    "<xs:element name='b' type='xs:int' maxOccurs='unbounded'/>"
                                    "</xs:sequence></xs:complexType></xs:element></xs:schema>");
  EXPECT_EQ(load("<a><b>1</b><b>2</b></a>", OBJECT_ERROR_NONE, schema)->GetChildernNumber(), 2u);
  load("<a><b>x</b></a>", OBJECT_ERROR_VALIDATE, schema);
  load("<a><c/></a>", OBJECT_ERROR_VALIDATE, schema);
  // Not well-formed after an invalid part: not well-formed wins.
  load("<a><b>x</b><b></a>", OBJECT_ERROR_LOAD_DOCUMENT, schema);
  // Without a schema path, the same invalid document loads.
  EXPECT_NE(load("<a><b>x</b></a>"), nullptr);
  // A missing schema fails before the document is read (here it is missing too).
  EXPECT_EQ(XmlObject::Load((dir_ / "missing.xml").wstring().c_str(), &out, (dir_ / "none.xsd").wstring().c_str()),
            OBJECT_ERROR_LOAD_SCHEMA);
  load("<a/>", OBJECT_ERROR_LOAD_SCHEMA, write("bad.xsd", "<xs:schema"));
  load("<a/>", OBJECT_ERROR_ADD_SCHEMA, write("notxsd.xsd", "<root/>"));
  EXPECT_EQ(out, sentinel());
}

TEST_F(XmlLibxml2, HostileDocumentsFailSafely) {
  // Nothing external is fetched: the entity's file content never shows up.
  write("secret.txt", "SECRET");
  const std::string secret = (dir_ / "secret.txt").string();
  auto external = load("<!DOCTYPE a [<!ENTITY x SYSTEM 'file://" + secret + "'>]><a>[&x;]</a>");
  ASSERT_NE(external, nullptr);
  EXPECT_EQ(std::wstring(external->GetNodeText()).find(L"SECRET"), std::wstring::npos);
  auto dtd = load("<!DOCTYPE a SYSTEM '" + (dir_ / "missing.dtd").string() + "'><a>t</a>");
  ASSERT_NE(dtd, nullptr);
  EXPECT_STREQ(dtd->GetNodeText(), L"t");
  auto network = load("<!DOCTYPE a SYSTEM 'http://127.0.0.1:9/x.dtd'><a/>");
  EXPECT_NE(network, nullptr);

  // A schema that imports from the network, directly or through a local include,
  // is refused before its parts are fetched; local includes are followed.
  const std::string xs = "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'>";
  write("part.xsd", xs + "<xs:element name='a'/></xs:schema>");
  write("remote.xsd", xs + "<xs:import namespace='u:x' schemaLocation='http://127.0.0.1:9/x.xsd'/></xs:schema>");
  load("<a/>", OBJECT_ERROR_ADD_SCHEMA, write("s1.xsd", xs + "<xs:include schemaLocation='remote.xsd'/></xs:schema>"));
  load("<a/>", OBJECT_ERROR_ADD_SCHEMA,
       write("s2.xsd", xs + "<xs:import namespace='u:y' schemaLocation='ftp://127.0.0.1:9/y.xsd'/></xs:schema>"));
  EXPECT_NE(
      load("<a/>", OBJECT_ERROR_NONE, write("s3.xsd", xs + "<xs:include schemaLocation='part.xsd'/></xs:schema>")),
      nullptr);

  // Billion laughs: refused quickly.
  std::string laughs = "<!DOCTYPE l [<!ENTITY l0 'ha'>";
  for (int i = 1; i <= 10; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " '";
    for (int j = 0; j < 10; ++j) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "'>";
  }
  const auto start = std::chrono::steady_clock::now();
  load(laughs + "]><l>&l10;</l>", OBJECT_ERROR_LOAD_DOCUMENT);
  load(laughs + "]><l a='&l10;'/>", OBJECT_ERROR_LOAD_DOCUMENT);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));

  // Deep nesting: the walk keeps no stack per level, so it loads.
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<d>";
  deep += "bottom";
  for (int i = 0; i < 100000; ++i) deep += "</d>";
  auto deepTree = load(deep);
  ASSERT_NE(deepTree, nullptr);
  XmlObject* tip = deepTree.get();
  int depth = 0;
  while (tip->GetChildernNumber() == 1) {
    tip = tip->GetChild(0);
    ++depth;
  }
  EXPECT_EQ(depth, 99999);
  EXPECT_STREQ(tip->GetNodeText(), L"bottom");
}

TEST_F(XmlLibxml2, NothingIsWrittenToStandardError) {
  fflush(stderr);
  const int saved = dup(2);
  const std::string capture = (dir_ / "stderr.txt").string();
  FILE* sink = fopen(capture.c_str(), "w");
  ASSERT_NE(sink, nullptr);
  dup2(fileno(sink), 2);
  load("<a><b></a>", OBJECT_ERROR_LOAD_DOCUMENT);
  load("<p:a/>", OBJECT_ERROR_LOAD_DOCUMENT);
  load("<a/>", OBJECT_ERROR_LOAD_SCHEMA, write("bad.xsd", "<xs:schema"));
  load("<a/>", OBJECT_ERROR_ADD_SCHEMA,
       write("notxsd.xsd", "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'><xs:bogus/></xs:schema>"));
  load("<a/>", OBJECT_ERROR_VALIDATE,
       write("s.xsd", "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'><xs:element name='b'/></xs:schema>"));
  XmlObject bad(L"1bad");
  bad.Save((dir_ / "bad.xml").wstring().c_str());
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  fclose(sink);
  EXPECT_EQ(read("stderr.txt"), "");
}

TEST_F(XmlLibxml2, SavedDocumentsAreUtf16AndLoadBackUnchanged) {
  XmlObject root(L"a");
  root.AppendAttribute(L"x", L"1");
  root.AppendAttribute(L"q", L"<&>\"' \t\r\n end");
  root.AppendAttribute(L"x", L"2");
  root.SetNodeText(L"  t <&> ]]> \r\n\u20AC  ");
  auto* b = new XmlObject(L"b");
  b->SetNodeText(L" ");
  root.AppendChild(b);
  auto* c = new XmlObject(L"p.c-d_e");
  c->AppendAttribute(L"e", L"");
  root.AppendChild(c);
  const std::wstring path = (dir_ / "out.xml").wstring();
  ASSERT_EQ(root.Save(path.c_str()), 1);

  const std::string bytes = read("out.xml");
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  std::string ascii;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) ascii += bytes[i];
  EXPECT_EQ(ascii.rfind("<?xml version=\"1.0\" encoding=\"UTF-16\"?>", 0), 0u) << ascii;
  EXPECT_LT(ascii.find(">  t "), ascii.find("<b>")) << "the text comes before the children";

  XmlObject* out = nullptr;
  ASSERT_EQ(XmlObject::Load(path.c_str(), &out, L""), OBJECT_ERROR_NONE);
  std::unique_ptr<XmlObject> back(out);
  EXPECT_STREQ(back->GetBasename(), L"a");
  ASSERT_EQ(back->GetAttributeNumber(), 2u);
  EXPECT_STREQ(back->GetAttribute(0).first, L"x");
  EXPECT_STREQ(back->GetAttribute(0).second, L"2");
  EXPECT_STREQ(back->GetAttribute(1).second, L"<&>\"' \t\r\n end");
  EXPECT_STREQ(back->GetNodeText(), L"  t <&> ]]> \r\n\u20AC  ");
  ASSERT_EQ(back->GetChildernNumber(), 2u);
  EXPECT_EQ(back->GetChild(0)->HasText(), 0);  // white space only reads back as no text
  EXPECT_STREQ(back->GetChild(1)->GetBasename(), L"p.c-d_e");
  EXPECT_STREQ(back->GetChild(1)->GetAttribute(0).second, L"");
}

TEST_F(XmlLibxml2, FailedSavesReturnZeroAndKeepTheOldFile) {
  const std::wstring path = (dir_ / "out.xml").wstring();
  XmlObject good(L"good");
  ASSERT_EQ(good.Save(path.c_str()), 1);
  const std::string before = read("out.xml");

  // A bad element two levels down: nothing is written, the old file stays.
  XmlObject bad(L"r");
  auto* child = new XmlObject(L"ok");
  child->AppendChild(new XmlObject());
  bad.AppendChild(child);
  EXPECT_EQ(bad.Save(path.c_str()), 0);
  EXPECT_EQ(read("out.xml"), before);
  EXPECT_EQ(SaveXmlObject(&bad, path.c_str()), 0);
  EXPECT_EQ(read("out.xml"), before);

  // A folder that does not exist: 0, and no file.
  EXPECT_EQ(good.Save((dir_ / "none" / "out.xml").wstring().c_str()), 0);
  EXPECT_FALSE(fs::exists(dir_ / "none"));
}

TEST_F(XmlLibxml2, DeepHandBuiltTreesSave) {
  XmlObject root(L"d");
  XmlObject* tip = &root;
  for (int i = 0; i < 100000; ++i) {
    auto* next = new XmlObject(L"d");
    tip->AppendChild(next);
    tip = next;
  }
  EXPECT_EQ(root.Save((dir_ / "deep.xml").wstring().c_str()), 1);
  XmlObject* out = nullptr;
  ASSERT_EQ(XmlObject::Load((dir_ / "deep.xml").wstring().c_str(), &out, L""), OBJECT_ERROR_NONE);
  delete out;
}

TEST_F(XmlLibxml2, LoadsAndSavesRunOnSeveralThreadsAtOnce) {
  const std::wstring schema =
      write("s.xsd", "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'><xs:element name='a'/></xs:schema>");
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::string name = "t";
      name += std::to_string(t) + ".xml";
      const std::wstring path = (dir_ / name).wstring();
      for (int i = 0; i < 50; ++i) {
        XmlObject root(L"a");
        root.SetNodeText(std::to_wstring(i).c_str());
        XmlObject* out = nullptr;
        if (root.Save(path.c_str()) != 1 || XmlObject::Load(path.c_str(), &out, schema.c_str()) != OBJECT_ERROR_NONE ||
            std::wstring(out->GetNodeText()) != std::to_wstring(i)) {
          ++failures[t];
        }
        delete out;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
