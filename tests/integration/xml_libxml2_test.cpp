// Load on the real libxml2 adapter: the documents of the edge-case list,
// encodings, result codes and silence on stderr, safety against hostile input
// and deep trees, loads and saves on several threads, and running out of
// memory while libxml2 calls the reader back. The global allocation functions
// of the XML integration tests are replaced here so that large allocations can
// be made to fail.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "utils/xml.h"
#include "xml_test_support.h"

#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"

namespace {

// Allocations of at least this many bytes fail; 0 lets every one through.
std::atomic<size_t> gFailFrom{0};

void* allocate(size_t size) {
  const size_t limit = gFailFrom.load(std::memory_order_relaxed);
  if (limit != 0 && size >= limit) throw std::bad_alloc();
  if (void* block = std::malloc(size != 0 ? size : 1)) return block;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(size_t size) { return allocate(size); }
void* operator new[](size_t size) { return allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }

namespace {

class LargeAllocationsFail {
 public:
  explicit LargeAllocationsFail(size_t bytes) { gFailFrom = bytes; }
  ~LargeAllocationsFail() { gFailFrom = 0; }
  LargeAllocationsFail(const LargeAllocationsFail&) = delete;
  LargeAllocationsFail& operator=(const LargeAllocationsFail&) = delete;
};

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
  std::string utf16le = "\xFF\xFE";  // 0xE9 as a UTF-16 unit: U+00E9
  for (char c : std::string("<?xml version='1.0' encoding='UTF-16'?><a>\xE9</a>")) utf16le += {c, '\0'};
  const struct {
    std::string document;
    const wchar_t* text;  // the root's text; null: it has none
    size_t children;
  } rows[] = {
      {"<a>x<b/>y</a>", L"y", 1},
      {"<a><![CDATA[only]]></a>", nullptr, 0},
      {"<a/>", nullptr, 0},
      {"<a>\n  <b/>\n\t</a>", nullptr, 1},  // white space only is no text
      {"<!DOCTYPE a [<!ELEMENT a (#PCDATA)>]><a>t</a>", L"t", 0},
      {"<a>x<!--c-->y</a>", L"y", 0},
      {"<a>x<?pi d?>y<![CDATA[z]]></a>", L"y", 0},
      {"<r/><!-- trailing -->", nullptr, 0},
      {"<!DOCTYPE a [<!ENTITY e 'vee'>]><a>&lt;&e;&#65;</a>", L"<veeA", 0},
      {utf16le, L"\u00E9", 0},
      {"<?xml version='1.0' encoding='ISO-8859-1'?><a>caf\xE9</a>", L"caf\u00E9", 0},
      {"\xEF\xBB\xBF<a>\xE2\x82\xAC\xF0\x9F\x98\x80</a>", L"\u20AC\U0001F600", 0},
  };
  for (const auto& row : rows) {
    auto root = load(row.document);
    ASSERT_NE(root, nullptr) << row.document;
    EXPECT_EQ(root->HasText(), row.text != nullptr ? 1 : 0) << row.document;
    EXPECT_STREQ(root->GetNodeText(), row.text) << row.document;
    EXPECT_EQ(root->GetChildernNumber(), row.children) << row.document;
  }
  EXPECT_EQ(load("<a>x<b/>y</a>")->GetChild(0)->HasText(), 0);

  // Attributes: namespace declarations among them, prefixes dropped, empty
  // values kept, references expanded in normalised values.
  const struct {
    std::string document;
    const wchar_t* name;
    std::vector<std::pair<std::wstring, std::wstring>> attributes;
  } named[] = {
      {"<p:a xmlns:p='u:1' p:b='1'/>", L"a", {{L"p", L"u:1"}, {L"b", L"1"}}},
      {"<a xmlns='u:2'/>", L"a", {{L"xmlns", L"u:2"}}},
      {"<x:r xmlns:x='u'/>", L"r", {{L"x", L"u"}}},
      {"<a b=''/>", L"a", {{L"b", L""}}},
      {"<!DOCTYPE a [<!ENTITY e 'vee'>]><a k='1&amp;&#60;&e;&#x20AC;\t2\n3'/>", L"a", {{L"k", L"1&<vee\u20AC 2 3"}}},
  };
  for (const auto& row : named) {
    auto root = load(row.document);
    ASSERT_NE(root, nullptr) << row.document;
    EXPECT_STREQ(root->GetBasename(), row.name) << row.document;
    std::vector<std::pair<std::wstring, std::wstring>> attributes;
    for (size_t i = 0; i < root->GetAttributeNumber(); ++i) {
      ASSERT_NE(root->GetAttribute(i).second, nullptr) << row.document;
      attributes.emplace_back(root->GetAttribute(i).first, root->GetAttribute(i).second);
    }
    EXPECT_EQ(attributes, row.attributes) << row.document;
  }
}

TEST_F(XmlLibxml2, FailuresGiveTheirCodesQuietlyAndLeaveOutUntouched) {
  // Nothing is written to standard error (here a file that must stay empty).
  fflush(stderr);
  const int savedStderr = dup(2);
  FILE* sink = fopen((dir_ / "stderr.txt").c_str(), "w");
  ASSERT_NE(sink, nullptr);
  dup2(fileno(sink), 2);
  XmlObject* out = sentinel();
  EXPECT_EQ(XmlObject::Load((dir_ / "missing.xml").wstring().c_str(), &out, L""), OBJECT_ERROR_LOAD_DOCUMENT);
  // A missing schema fails before the document is read (here it is missing too).
  EXPECT_EQ(XmlObject::Load((dir_ / "missing.xml").wstring().c_str(), &out, (dir_ / "none.xsd").wstring().c_str()),
            OBJECT_ERROR_LOAD_SCHEMA);
  EXPECT_EQ(out, sentinel());

  const std::wstring schema = write("s.xsd",
                                    "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'>"
                                    "<xs:element name='a'><xs:complexType><xs:sequence>"
                                    "<xs:element name='b' type='xs:int' maxOccurs='unbounded'/>"
                                    "</xs:sequence></xs:complexType></xs:element></xs:schema>");
  const std::wstring broken = write("bad.xsd", "<xs:schema");
  const std::wstring notSchema = write("notxsd.xsd", "<root/>");
  const struct {
    const char* document;
    const std::wstring& schema;
    OBJECT_ERROR_CODE expected;
  } rows[] = {
      {"<a><b></a>", L"", OBJECT_ERROR_LOAD_DOCUMENT},
      {"<a/><b/>", L"", OBJECT_ERROR_LOAD_DOCUMENT},
      {"<a>", L"", OBJECT_ERROR_LOAD_DOCUMENT},
      {"", L"", OBJECT_ERROR_LOAD_DOCUMENT},
      {"<p:a/>", L"", OBJECT_ERROR_LOAD_DOCUMENT},  // undeclared prefix
      {"<a>&undeclared;</a>", L"", OBJECT_ERROR_LOAD_DOCUMENT},
      {"<a><b>1</b><b>2</b></a>", schema, OBJECT_ERROR_NONE},
      {"<a><b>x</b></a>", schema, OBJECT_ERROR_VALIDATE},
      {"<a><c/></a>", schema, OBJECT_ERROR_VALIDATE},
      {"<a><b>x</b><b></a>", schema, OBJECT_ERROR_LOAD_DOCUMENT},  // not well-formed wins over invalid
      {"<a><b>x</b></a>", L"", OBJECT_ERROR_NONE},                 // no schema: the invalid document loads
      {"<a/>", broken, OBJECT_ERROR_LOAD_SCHEMA},
      {"<a/>", notSchema, OBJECT_ERROR_ADD_SCHEMA},
  };
  for (const auto& row : rows) load(row.document, row.expected, row.schema);
  XmlObject bad(L"1bad");
  EXPECT_EQ(bad.Save((dir_ / "bad.xml").wstring().c_str()), 0);
  fflush(stderr);
  dup2(savedStderr, 2);
  close(savedStderr);
  fclose(sink);
  EXPECT_EQ(read("stderr.txt"), "");
}

TEST_F(XmlLibxml2, HostileDocumentsFailSafely) {
  // A DTD that is not there is not needed (what else a document may fetch is
  // the outside tests').
  auto dtd = load("<!DOCTYPE a SYSTEM '" + (dir_ / "missing.dtd").string() + "'><a>t</a>");
  ASSERT_NE(dtd, nullptr);
  EXPECT_STREQ(dtd->GetNodeText(), L"t");

  // A schema that imports from the network, directly or through a local include,
  // is refused before its parts are fetched; local includes are followed.
  const std::string xs = "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'>";
  write("part.xsd", xs + "<xs:element name='a'/></xs:schema>");
  write("remote.xsd", xs + "<xs:import namespace='u:x' schemaLocation='http://127.0.0.1:9/x.xsd'/></xs:schema>");
  load("<a/>", OBJECT_ERROR_ADD_SCHEMA, write("s1.xsd", xs + "<xs:include schemaLocation='remote.xsd'/></xs:schema>"));
  load("<a/>", OBJECT_ERROR_ADD_SCHEMA,
       write("s2.xsd", xs + "<xs:import namespace='u:y' schemaLocation='ftp://127.0.0.1:9/y.xsd'/></xs:schema>"));
  load("<a/>", OBJECT_ERROR_NONE, write("s3.xsd", xs + "<xs:include schemaLocation='part.xsd'/></xs:schema>"));

  // Deep nesting, built by hand, saved and loaded back: neither walk keeps a
  // stack per level.
  XmlObject deep(L"d");
  XmlObject* tip = &deep;
  for (int i = 0; i < 100000; ++i) {
    tip->AppendChild(new XmlObject(L"d"));
    tip = tip->GetChild(0);
  }
  tip->SetNodeText(L"bottom");
  ASSERT_EQ(deep.Save((dir_ / "deep.xml").wstring().c_str()), 1);
  XmlObject* loaded = nullptr;
  ASSERT_EQ(XmlObject::Load((dir_ / "deep.xml").wstring().c_str(), &loaded, L""), OBJECT_ERROR_NONE);
  std::unique_ptr<XmlObject> deepTree(loaded);
  int depth = 0;
  for (tip = deepTree.get(); tip->GetChildernNumber() == 1; ++depth) tip = tip->GetChild(0);
  EXPECT_EQ(depth, 100000);
  EXPECT_STREQ(tip->GetNodeText(), L"bottom");
}

TEST_F(XmlLibxml2, LoadsAndSavesRunOnSeveralThreadsAtOnce) {
  const std::wstring schema =
      write("s.xsd", "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'><xs:element name='a'/></xs:schema>");
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::string name = "t";  // built in steps: GCC 12 warns wrongly on "t" + std::to_string(t)
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

// The failure is caught inside the callback, the parser stopped, and reported
// once libxml2 has returned: the class's Load throws std::bad_alloc, the flat
// function gives null, and nothing is left behind (the address sanitizer build
// checks for leaks).
TEST_F(XmlLibxml2, RunningOutOfMemoryInAParserCallbackIsReportedAfterTheParserReturns) {
  // An attribute value with a reference (libxml2 holds its own copy while it
  // calls back), and a long text, each far beyond the failing size once wide.
  const std::string big(3000000, 'v');
  const std::wstring attribute = write("attribute.xml", "<r><e k='&amp;" + big + "'/></r>");
  const std::wstring text = write("text.xml", "<r><e>" + big + big + "</e></r>");
  for (const std::wstring& path : {attribute, text}) {
    {
      LargeAllocationsFail failing(8 << 20);
      XmlObject* out = sentinel();
      EXPECT_THROW(XmlObject::Load(path.c_str(), &out, L""), std::bad_alloc);
      EXPECT_EQ(out, sentinel());
      EXPECT_EQ(LoadXmlObject(path.c_str(), L""), nullptr);
    }
    // With memory again, the same file loads whole.
    XmlObject* loaded = LoadXmlObject(path.c_str(), L"");
    ASSERT_NE(loaded, nullptr);
    DestroyXmlObject(loaded);
  }
}

}  // namespace
