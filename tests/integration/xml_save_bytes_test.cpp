// The exact bytes that Save writes through the Linux writer: declaration, order
// of attributes, text and children, escaping, UTF-16 of characters beyond the
// BMP, nothing written after any failure (a refused tree or a failing system
// call), and direct use of the writer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include <filesystem>
#include <memory>
#include <string>

#include "port/linux/file_calls.h"
#include "port/xml_dom_port.h"
#include "utils/xml.h"
#include "xml_test_support.h"

#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"

namespace {

namespace fs = std::filesystem;

const std::u16string kDeclaration = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n";

class XmlSaveBytes : public XmlFileTest {
 protected:
  std::wstring path(const std::string& name) const { return (dir_ / name).wstring(); }

  // The file as UTF-16 code units, once its little-endian byte order mark is checked.
  std::u16string units(const std::string& name) const {
    const std::string bytes = read(name);
    if (bytes.size() < 2 || bytes[0] != '\xFF' || bytes[1] != '\xFE' || bytes.size() % 2 != 0) {
      return u"(not UTF-16LE with a byte order mark)";
    }
    std::u16string out;
    for (size_t i = 2; i < bytes.size(); i += 2) {
      out +=
          static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    }
    return out;
  }

  std::u16string saved(XmlObject& root) {
    EXPECT_EQ(root.Save(path("out.xml").c_str()), 1);
    return units("out.xml");
  }
};

TEST_F(XmlSaveBytes, DocumentsAreWrittenExactly) {
  XmlObject root(L"a");
  root.AppendAttribute(L"x", L"1");
  root.AppendAttribute(L"q", L"<&>\"' \t\r\n end");
  root.AppendAttribute(L"x", L"2");  // keeps the place of the first, takes the last value
  root.AppendAttribute(L"xml:lang", L"fr");
  std::wstring text = L"  t <&> ]]> \r\n\u20AC\u0085 ";
  text += static_cast<wchar_t>(0x1F600);
  root.SetNodeText(text.c_str());
  auto* b = new XmlObject(L"b");
  b->SetNodeText(L" ");
  root.AppendChild(b);
  auto* c = new XmlObject(L"\u00E9t\u00E9.c-d_e");
  c->AppendAttribute(L"e", L"");
  std::wstring high = L"z";
  high += static_cast<wchar_t>(0x10FFFF);
  c->AppendAttribute(L"p:q", high.c_str());
  root.AppendChild(c);
  root.AppendChild(nullptr);  // skipped
  auto* d = new XmlObject(L"d");
  d->SetNodeText(L"");  // an empty text still makes a start and an end tag
  d->AppendChild(new XmlObject(L"e"));
  root.AppendChild(d);

  EXPECT_EQ(saved(root), kDeclaration +
                             u"<a x=\"2\" q=\"&lt;&amp;&gt;&quot;' &#9;&#13;&#10; end\" xml:lang=\"fr\">"
                             u"  t &lt;&amp;&gt; ]]&gt; &#13;\n\u20AC\u0085 \U0001F600"
                             u"<b> </b><\u00E9t\u00E9.c-d_e e=\"\" p:q=\"z\U0010FFFF\"/><d><e/></d></a>\n");

  XmlObject empty(L"r");
  EXPECT_EQ(saved(empty), kDeclaration + u"<r/>\n");
}

TEST_F(XmlSaveBytes, LongTextsAndManyNamesAreWrittenWhole) {
  // Escapes and pairs of UTF-16 units fall across every position of the
  // writer's internal blocks.
  std::wstring text;
  std::u16string expected;
  for (int i = 0; text.size() < 100000; ++i) {
    text += L"ab<&\r";
    text += static_cast<wchar_t>(0x10000 + i % 1000);
    expected += u"ab&lt;&amp;&#13;";
    expected += static_cast<char16_t>(0xD800 + ((i % 1000) >> 10));
    expected += static_cast<char16_t>(0xDC00 + ((i % 1000) & 0x3FF));
    if (i % 7 == 0) {
      text += L"\"\t";
      expected += u"\"\t";
    }
  }
  XmlObject root(L"r");
  root.SetNodeText(text.c_str());
  root.AppendAttribute(L"v", text.c_str());
  std::u16string attribute = expected;
  for (size_t at = 0; (at = attribute.find_first_of(u"\"\t", at)) != std::u16string::npos;) {
    attribute.replace(at, 1, attribute[at] == u'"' ? u"&quot;" : u"&#9;");
  }
  // More distinct names than the writer remembers, each with a repeated one.
  std::u16string children;
  for (int i = 0; i < 6000; ++i) {
    const std::wstring name = L"n" + std::to_wstring(i);
    auto* child = new XmlObject(name.c_str());
    child->AppendAttribute((L"a" + std::to_wstring(i)).c_str(), L"1");
    child->AppendAttribute(L"k", L"x");
    child->AppendAttribute((L"a" + std::to_wstring(i)).c_str(), L"2");
    root.AppendChild(child);
    const std::string number = std::to_string(i);
    const std::u16string digits(number.begin(), number.end());
    children += u"<n" + digits + u" a" + digits + u"=\"2\" k=\"x\"/>";
  }
  EXPECT_EQ(saved(root), kDeclaration + u"<r v=\"" + attribute + u"\">" + expected + children + u"</r>\n");
}

TEST_F(XmlSaveBytes, AnyRefusedNameOrTextWritesNothing) {
  XmlObject good(L"good");
  const std::u16string before = saved(good);
  // Which names and characters XML refuses is the unit tests' (XmlChars); here
  // each place the writer checks, two levels down after a good sibling: an
  // element's name (a bad one or none), an attribute's name and value, a text.
  const struct {
    const wchar_t* element;
    const wchar_t* attribute;
    const wchar_t* value;
    const wchar_t* text;
  } rows[] = {{L"1a", L"a", L"v", L"t"},
              {nullptr, L"a", L"v", L"t"},
              {L"l", L"a<", L"v", L"t"},
              {L"l", L"a", L"ok\x1ok", L"t"},
              {L"l", L"a", L"v", L"ok\xFFFEok"}};
  for (const auto& row : rows) {
    XmlObject root(L"r");
    root.AppendChild(new XmlObject(L"fine"));
    auto* middle = new XmlObject(L"m");
    auto* leaf = row.element != nullptr ? new XmlObject(row.element) : new XmlObject();
    leaf->AppendAttribute(row.attribute, row.value);
    leaf->SetNodeText(row.text);
    middle->AppendChild(leaf);
    root.AppendChild(middle);
    EXPECT_EQ(root.Save(path("out.xml").c_str()), 0) << "row " << &row - rows;
    EXPECT_EQ(units("out.xml"), before) << "row " << &row - rows;
  }
  XmlObject unnamed;
  EXPECT_EQ(unnamed.Save(path("new.xml").c_str()), 0);
  // Neither a temporary file nor a new file is left behind.
  EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"out.xml"});
}

TEST_F(XmlSaveBytes, AFailingSystemCallKeepsTheOldFileWhole) {
  namespace calls = utils::linuxport::filecalls;
  XmlObject good(L"good");
  const std::u16string before = saved(good);
  // Large enough to take several blocks, so that a write can fail half-way.
  XmlObject big(L"big");
  big.SetNodeText(std::wstring(300000, L'x').c_str());
  struct Row {
    calls::Call call;
    int error;
    int skip;
    bool inPlace;  // the target has a second hard link, so it is rewritten in place
  };
  const Row rows[] = {
      {calls::Call::Write, ENOSPC, 0, false},   {calls::Call::Write, EIO, 1, false},
      {calls::Call::Fsync, EIO, 0, false},      {calls::Call::Rename, EXDEV, 0, false},
      {calls::Call::Allocate, ENOSPC, 0, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("call " + std::to_string(static_cast<int>(row.call)) + " errno " + std::to_string(row.error));
    if (row.inPlace) {
      ASSERT_EQ(::link((dir_ / "out.xml").c_str(), (dir_ / "link.xml").c_str()), 0);
    }
    calls::injectFault(row.call, row.error, 1, row.skip);
    EXPECT_EQ(big.Save(path("out.xml").c_str()), 0);
    EXPECT_EQ(calls::injectedFailures(), 1);
    calls::clearFaults();
    EXPECT_EQ(units("out.xml"), before);
    // Nothing but the old file (and its second link) is left in the folder.
    EXPECT_EQ(namesIn(dir_),
              (row.inPlace ? std::vector<std::string>{"link.xml", "out.xml"} : std::vector<std::string>{"out.xml"}));
    if (row.inPlace) fs::remove(dir_ / "link.xml");
  }
  // With the faults gone the same save goes through.
  EXPECT_EQ(big.Save(path("out.xml").c_str()), 1);
  EXPECT_EQ(units("out.xml").size(), kDeclaration.size() + 300000 + 12);
}

TEST_F(XmlSaveBytes, WriterFollowsDomRulesWhenUsedDirectly) {
  std::unique_ptr<utils::port::DomWriteDocument> document;
  ASSERT_EQ(dom_.createDocument(&document), 0u);
  EXPECT_EQ(document->appendProcessingInstruction(L"xml", L"version='1.0' encoding='UTF-16'"), 0u);
  EXPECT_NE(document->appendProcessingInstruction(L"xml", L"again"), 0u);
  // Only the declaration is taken: the library writes no other instruction.
  EXPECT_NE(document->appendProcessingInstruction(L"pi", L"some data"), 0u);
  EXPECT_NE(document->appendProcessingInstruction(nullptr, L""), 0u);

  std::unique_ptr<utils::port::DomWriteElement> r, c1, c2, c3, refused;
  EXPECT_NE(document->createElement(L"", &refused), 0u);
  EXPECT_NE(document->createElement(nullptr, &refused), 0u);
  EXPECT_EQ(refused, nullptr);
  ASSERT_EQ(document->createElement(L"r", &r), 0u);
  ASSERT_EQ(document->createElement(L"c1", &c1), 0u);
  ASSERT_EQ(document->createElement(L"c2", &c2), 0u);
  ASSERT_EQ(document->createElement(L"c3", &c3), 0u);
  EXPECT_EQ(r->setAttribute(L"a", L"1"), 0u);
  EXPECT_NE(r->setAttribute(L"a", nullptr), 0u);
  EXPECT_EQ(r->appendChild(*c1), 0u);
  EXPECT_NE(r->appendChild(*c1), 0u);  // already attached
  EXPECT_EQ(r->setText(L"replaces c1"), 0u);
  EXPECT_EQ(r->appendChild(*c2), 0u);
  EXPECT_EQ(c2->appendChild(*c3), 0u);
  EXPECT_NE(c3->appendChild(*r), 0u);  // its own ancestor
  EXPECT_NE(c3->appendChild(*c3), 0u);
  EXPECT_EQ(c3->setText(L""), 0u);
  EXPECT_EQ(c3->setAttribute(L"late", L"after attaching"), 0u);
  EXPECT_EQ(r->setAttribute(L"b", L"2"), 0u);
  EXPECT_EQ(r->setAttribute(L"a", L"3"), 0u);
  EXPECT_EQ(document->appendRoot(*r), 0u);
  EXPECT_NE(document->appendRoot(*c1), 0u);  // one root only
  EXPECT_EQ(document->save(path("direct.xml").c_str()), 0u);
  EXPECT_EQ(units("direct.xml"),
            kDeclaration + u"<r a=\"3\" b=\"2\">replaces c1<c2><c3 late=\"after attaching\"></c3></c2></r>\n");
  EXPECT_NE(document->save(path("missing/direct.xml").c_str()), 0u);
  EXPECT_NE(document->save(L""), 0u);

  // A document without a root (what a save that goes on past a failed root
  // leaves) is the declaration alone.
  ASSERT_EQ(dom_.createDocument(&document), 0u);
  EXPECT_EQ(document->appendProcessingInstruction(L"xml", L"version='1.0' encoding='UTF-16'"), 0u);
  EXPECT_EQ(document->save(path("empty.xml").c_str()), 0u);
  EXPECT_EQ(units("empty.xml"), kDeclaration);
}

}  // namespace
