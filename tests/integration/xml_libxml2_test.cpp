// Load on the real libxml2 adapter: the documents of the edge-case list,
// encodings, result codes and silence on stderr, safety against hostile input
// and deep trees, loads and saves on several threads, running out of memory
// while libxml2 calls the reader back; and what a load may reach outside the
// files it was given: no fetches from schema documents at any depth (a
// loopback listener that must see no connection, a FIFO that must not be
// opened), files that are not regular files, runaway entity expansion, and the
// namespace a schema covers. The global allocation functions of the XML
// integration tests are replaced here so that large allocations can be made to
// fail.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "port/linux/xml_dom.h"
#include "utils/xml.h"
#include "xml_namespace_cases.h"
#include "xml_test_support.h"

#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"

namespace {

namespace fs = std::filesystem;

const std::string kXs = "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'";

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

class XmlLibxml2 : public XmlFolderTest<utils::linuxport::LibxmlDom> {
 protected:
  std::wstring write(const std::string& name, const std::string& bytes) {
    return XmlFolderTest::write(name, bytes).wstring();
  }
  std::string fifo(const std::string& name) {
    const std::string path = (dir_ / name).string();
    EXPECT_EQ(::mkfifo(path.c_str(), 0666), 0);
    return path;
  }
  // Loads in the background, bounded: a load that blocked on a FIFO or a socket
  // fails the test instead of hanging it; unblock() then releases it.
  OBJECT_ERROR_CODE boundedLoad(const fs::path& path, const fs::path& schema,
                                const std::function<void()>& unblock = {}) {
    auto result = std::async(std::launch::async, [path, schema] {
      XmlObject* out = nullptr;
      const OBJECT_ERROR_CODE code = XmlObject::Load(path.wstring().c_str(), &out, schema.wstring().c_str());
      delete out;
      return code;
    });
    if (result.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
      ADD_FAILURE() << "the load of " << path << " with " << schema << " blocked";
      if (unblock) unblock();
    }
    return result.get();
  }
  // No process holds the FIFO open for reading.
  static bool unopened(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
    return fd < 0 && errno == ENXIO;
  }
  static void release(const std::string& fifoPath) {
    const int fd = ::open(fifoPath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) ::close(fd);  // a blocked reader gets end of file
  }
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

  // Attributes: namespace declarations among them, prefixes dropped, empty
  // values kept, references expanded in normalised values.
  const struct {
    std::string document;
    const wchar_t* name;
    std::vector<std::pair<std::wstring, std::wstring>> attributes;
  } named[] = {
      {"<p:a xmlns:p='u:1' p:b='1'/>", L"a", {{L"p", L"u:1"}, {L"b", L"1"}}},
      {"<a xmlns='u:2'/>", L"a", {{L"xmlns", L"u:2"}}},
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

  using namespace utils::testing;  // the documents and schemas every platform's tests share
  const std::wstring schema = write("plain.xsd", std::string(kSchemaStart) + kSchemaBody);
  const std::wstring namespaced = write("tns.xsd", std::string(kSchemaStart) + kNamespaceAttributes + kSchemaBody);
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
      {"<a><c/></a>", schema, OBJECT_ERROR_VALIDATE},
      {"<a/>", broken, OBJECT_ERROR_LOAD_SCHEMA},
      {"<a/>", notSchema, OBJECT_ERROR_ADD_SCHEMA},
  };
  for (const auto& row : rows) load(row.document, row.expected, row.schema);
  // The schema covers elements in no namespace only.
  for (const auto& item : kNamespaceCases)
    load(item.document, item.expected, item.namespacedSchema ? namespaced : schema);
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
  // is refused before its parts are fetched.
  write("remote.xsd", kXs + "><xs:import namespace='u:x' schemaLocation='http://127.0.0.1:9/x.xsd'/></xs:schema>");
  load("<a/>", OBJECT_ERROR_ADD_SCHEMA,
       write("s1.xsd", kXs + "><xs:include schemaLocation='remote.xsd'/></xs:schema>"));
  load("<a/>", OBJECT_ERROR_ADD_SCHEMA,
       write("s2.xsd", kXs + "><xs:import namespace='u:y' schemaLocation='ftp://127.0.0.1:9/y.xsd'/></xs:schema>"));

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

// A listener on a loopback port chosen by the system.
class Listener {
 public:
  Listener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd_, 64) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "no loopback listener";
    }
    port_ = ntohs(address.sin_port);
  }
  ~Listener() { close(); }
  void close() {
    if (fd_ >= 0) ::close(fd_);  // refuses the connections waiting, so a blocked client returns
    fd_ = -1;
  }
  std::string url(const std::string& file) const { return "http://127.0.0.1:" + std::to_string(port_) + "/" + file; }
  // Connections that arrived, counted without waiting.
  int connections() {
    int count = 0;
    for (int fd; (fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; ++count) ::close(fd);
    return count;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST_F(XmlLibxml2, SchemaDocumentsAtAnyDepthFetchNothing) {
  Listener listener;
  const std::string secret = fifo("secret.fifo");
  // Every way a schema document can ask for something outside: external general
  // and parameter entities (network and a local file), an external DTD subset.
  const std::string entities = "<!DOCTYPE xs:schema SYSTEM '" + listener.url("subset.dtd") +
                               "' [<!ENTITY net SYSTEM '" + listener.url("entity") +
                               "'>"
                               "<!ENTITY file SYSTEM '" +
                               secret +
                               "'>"
                               "<!ENTITY % pe SYSTEM '" +
                               listener.url("pe") + "'> %pe;]>";
  const std::string uses = "<xs:annotation><xs:documentation>&net;&file;</xs:documentation></xs:annotation>";
  write("leaf.xsd", entities + kXs + ">" + uses + "<xs:element name='a'/></xs:schema>");
  write("imported.xsd", entities + kXs + " targetNamespace='u:i'>" + uses + "<xs:element name='i'/></xs:schema>");
  write("base.xsd", entities + kXs + ">" + uses + "<xs:simpleType name='t'><xs:restriction base='xs:string'/>" +
                        "</xs:simpleType></xs:schema>");
  write("middle.xsd", entities + kXs + ">" + uses +
                          "<xs:include schemaLocation='leaf.xsd'/>"
                          "<xs:import namespace='u:i' schemaLocation='imported.xsd'/>"
                          "<xs:redefine schemaLocation='base.xsd'><xs:simpleType name='t'>"
                          "<xs:restriction base='t'/></xs:simpleType></xs:redefine></xs:schema>");
  const std::wstring included = write("main.xsd", kXs + "><xs:include schemaLocation='middle.xsd'/></xs:schema>");
  const std::wstring direct = write("direct.xsd", entities + kXs + ">" + uses + "<xs:element name='a'/></xs:schema>");
  // The document itself: its DTD, an entity naming a local file (which, read,
  // would make the document unreadable) and a hint to fetch a schema.
  const std::string unreadable = (dir_ / "unreadable.txt").string();
  write("unreadable.txt", "<unclosed");
  const std::wstring document =
      write("doc.xml", "<!DOCTYPE a SYSTEM '" + listener.url("doc.dtd") + "' [<!ENTITY x SYSTEM 'file://" + unreadable +
                           "'>]><a xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
                           "xsi:noNamespaceSchemaLocation='" +
                           listener.url("hint.xsd") + "'>&x;</a>");
  const auto unblock = [&] {
    listener.close();
    release(secret);
  };
  // Every schema document is read without what its entities and DTD name.
  EXPECT_EQ(boundedLoad(document, included, unblock), OBJECT_ERROR_NONE);
  EXPECT_EQ(boundedLoad(document, direct, unblock), OBJECT_ERROR_NONE);
  EXPECT_EQ(boundedLoad(document, "", unblock), OBJECT_ERROR_NONE);
  EXPECT_EQ(listener.connections(), 0) << "something was fetched from the network";
  EXPECT_TRUE(unopened(secret)) << "the FIFO named by an entity was opened";

  // Included files are found through links and escaped names too.
  write("a leaf.xsd", kXs + "><xs:element name='a'/></xs:schema>");
  write("b leaf.xsd", kXs + "><xs:element name='b'/></xs:schema>");
  fs::create_symlink("a leaf.xsd", dir_ / "linked.xsd");
  write("clean-middle.xsd", kXs + "><xs:include schemaLocation='linked.xsd'/></xs:schema>");
  const std::wstring clean = write("clean.xsd", kXs +
                                                    "><xs:include schemaLocation='clean-middle.xsd'/>"
                                                    "<xs:include schemaLocation='b%20leaf.xsd'/></xs:schema>");
  EXPECT_EQ(boundedLoad(document, clean, unblock), OBJECT_ERROR_NONE);
  EXPECT_EQ(boundedLoad(write("b.xml", "<b/>"), clean, unblock), OBJECT_ERROR_NONE);
  EXPECT_EQ(boundedLoad(write("c.xml", "<c/>"), clean, unblock), OBJECT_ERROR_VALIDATE);
  EXPECT_EQ(listener.connections(), 0);
}

TEST_F(XmlLibxml2, FilesThatAreNotRegularFilesAreRefusedWithoutBlocking) {
  const std::wstring document = write("doc.xml", "<a/>");
  const std::wstring schema = write("s.xsd", kXs + "><xs:element name='a'/></xs:schema>");
  const std::string fifoDocument = fifo("doc.fifo");
  const std::string fifoSchema = fifo("schema.fifo");
  const std::string fifoPart = fifo("part.fifo");
  const std::wstring includesFifo = write("inc.xsd", kXs + "><xs:include schemaLocation='part.fifo'/></xs:schema>");
  const auto unblock = [&] {
    for (const std::string& path : {fifoDocument, fifoSchema, fifoPart}) release(path);
  };
  EXPECT_EQ(boundedLoad(fifoDocument, "", unblock), OBJECT_ERROR_LOAD_DOCUMENT);
  EXPECT_EQ(boundedLoad(document, fifoSchema, unblock), OBJECT_ERROR_LOAD_SCHEMA);
  EXPECT_EQ(boundedLoad(document, includesFifo, unblock), OBJECT_ERROR_ADD_SCHEMA);
  EXPECT_EQ(boundedLoad("/dev/null", "", unblock), OBJECT_ERROR_LOAD_DOCUMENT);
  EXPECT_EQ(boundedLoad(dir_.string(), "", unblock), OBJECT_ERROR_LOAD_DOCUMENT);
  for (const std::string& path : {fifoDocument, fifoSchema, fifoPart}) EXPECT_TRUE(unopened(path)) << path;
  // Links to regular files load as the files do.
  fs::create_symlink(document, dir_ / "doc-link.xml");
  fs::create_symlink(schema, dir_ / "s-link.xsd");
  EXPECT_EQ(boundedLoad((dir_ / "doc-link.xml").string(), (dir_ / "s-link.xsd").string()), OBJECT_ERROR_NONE);
}

TEST_F(XmlLibxml2, EntityExpansionIsBoundedByTheInputsSize) {
  // About 14 KB that would expand to 100 MB of text: refused, quickly and
  // without holding the expansion.
  std::string entities = "<!DOCTYPE r [<!ENTITY a '" + std::string(10000, 'x') + "'><!ENTITY b '";
  for (int i = 0; i < 10; ++i) entities += "&a;";
  entities += "'>]>";
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "&b;";
  rusage before{};
  ::getrusage(RUSAGE_SELF, &before);
  EXPECT_EQ(boundedLoad(write("text.xml", entities + "<r>" + text + "</r>"), ""), OBJECT_ERROR_LOAD_DOCUMENT);
  EXPECT_EQ(boundedLoad(write("deep.xml", entities + "<r><s>" + text + "</s><t/></r>"), ""),
            OBJECT_ERROR_LOAD_DOCUMENT);
  // Billion laughs: ten levels of ten references each, in a text and in an
  // attribute value.
  std::string laughs = "<!DOCTYPE l [<!ENTITY l0 'ha'>";
  for (int i = 1; i <= 10; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " '";
    for (int j = 0; j < 10; ++j) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "'>";
  }
  EXPECT_EQ(boundedLoad(write("laughs.xml", laughs + "]><l>&l10;</l>"), ""), OBJECT_ERROR_LOAD_DOCUMENT);
  EXPECT_EQ(boundedLoad(write("laughs-attribute.xml", laughs + "]><l a='&l10;'/>"), ""), OBJECT_ERROR_LOAD_DOCUMENT);
  rusage after{};
  ::getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kilobytes more at the peak";

  // Moderate use of entities still loads: a few expansions, and text as long as
  // the input itself.
  auto moderate = boundedLoad(
      write("ok.xml", "<!DOCTYPE r [<!ENTITY e 'value'>]><r k='&e;&e;'>&e;&e;&e;" + std::string(3000000, 'y') + "</r>"),
      "");
  EXPECT_EQ(moderate, OBJECT_ERROR_NONE);
}

}  // namespace
