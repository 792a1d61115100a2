// What a load may reach outside the files it was given, and what it refuses:
// no fetches from schema documents at any depth (a loopback listener that must
// see no connection, a FIFO that must not be opened), files that are not
// regular files, runaway entity expansion, and the namespace a schema covers.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>

#include "utils/xml.h"
#include "xml_namespace_cases.h"
#include "xml_test_support.h"

#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"

namespace {

namespace fs = std::filesystem;

const std::string kXs = "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'";

class XmlLoadOutside : public XmlFileTest {
 protected:
  std::string write(const std::string& name, const std::string& bytes) {
    return XmlFileTest::write(name, bytes).string();
  }
  std::string fifo(const std::string& name) {
    const std::string path = (dir_ / name).string();
    EXPECT_EQ(::mkfifo(path.c_str(), 0666), 0);
    return path;
  }
  // Loads in the background, bounded: a load that blocked on a FIFO or a socket
  // fails the test instead of hanging it; unblock() then releases it.
  OBJECT_ERROR_CODE boundedLoad(const std::string& path, const std::string& schema,
                                const std::function<void()>& unblock = {}) {
    auto result = std::async(std::launch::async, [path, schema] {
      XmlObject* out = nullptr;
      const std::wstring widePath(path.begin(), path.end());
      const std::wstring wideSchema(schema.begin(), schema.end());
      const OBJECT_ERROR_CODE code = XmlObject::Load(widePath.c_str(), &out, wideSchema.c_str());
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

TEST_F(XmlLoadOutside, SchemaDocumentsAtAnyDepthFetchNothing) {
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
  const std::string included = write("main.xsd", kXs + "><xs:include schemaLocation='middle.xsd'/></xs:schema>");
  const std::string direct = write("direct.xsd", entities + kXs + ">" + uses + "<xs:element name='a'/></xs:schema>");
  // The document itself: its DTD, an entity naming a local file (which, read,
  // would make the document unreadable) and a hint to fetch a schema.
  const std::string unreadable = write("unreadable.txt", "<unclosed");
  const std::string document =
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
  const std::string clean = write("clean.xsd", kXs +
                                                   "><xs:include schemaLocation='clean-middle.xsd'/>"
                                                   "<xs:include schemaLocation='b%20leaf.xsd'/></xs:schema>");
  EXPECT_EQ(boundedLoad(document, clean, unblock), OBJECT_ERROR_NONE);
  EXPECT_EQ(boundedLoad(write("b.xml", "<b/>"), clean, unblock), OBJECT_ERROR_NONE);
  EXPECT_EQ(boundedLoad(write("c.xml", "<c/>"), clean, unblock), OBJECT_ERROR_VALIDATE);
  EXPECT_EQ(listener.connections(), 0);
}

TEST_F(XmlLoadOutside, FilesThatAreNotRegularFilesAreRefusedWithoutBlocking) {
  const std::string document = write("doc.xml", "<a/>");
  const std::string schema = write("s.xsd", kXs + "><xs:element name='a'/></xs:schema>");
  const std::string fifoDocument = fifo("doc.fifo");
  const std::string fifoSchema = fifo("schema.fifo");
  const std::string fifoPart = fifo("part.fifo");
  const std::string includesFifo = write("inc.xsd", kXs + "><xs:include schemaLocation='part.fifo'/></xs:schema>");
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

TEST_F(XmlLoadOutside, EntityExpansionIsBoundedByTheInputsSize) {
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

TEST_F(XmlLoadOutside, TheSchemaCoversElementsInNoNamespaceOnly) {
  using utils::testing::kNamespaceCases;
  const std::string plain = write("plain.xsd", std::string(utils::testing::kSchemaStart) + utils::testing::kSchemaBody);
  const std::string namespaced =
      write("tns.xsd", std::string(utils::testing::kSchemaStart) + utils::testing::kNamespaceAttributes +
                           utils::testing::kSchemaBody);
  for (const auto& item : kNamespaceCases) {
    EXPECT_EQ(boundedLoad(write("doc.xml", item.document), item.namespacedSchema ? namespaced : plain), item.expected)
        << item.document << (item.namespacedSchema ? " with the namespaced schema" : " with the plain schema");
  }
}

}  // namespace
