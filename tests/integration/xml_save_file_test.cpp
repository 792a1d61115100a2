// Save through the Linux writer: the exact bytes (declaration, order of
// attributes, text and children, escaping, UTF-16 beyond the BMP), nothing
// written after any failure (a refused tree or a failing system call), direct
// use of the writer; and which file is written and what it keeps: symbolic and
// hard links, owner, mode, extended attributes, folders that take no new file,
// read-only files, targets that are not regular files, and temporary files
// left by a process that died while saving.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>

#include "child_process.h"
#include "port/linux/file_calls.h"
#include "port/linux/file_replace.h"
#include "port/linux/xml_dom.h"
#include "port/xml_dom_port.h"
#include "utils/xml.h"
#include "xml_test_support.h"

#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"

namespace {

namespace fs = std::filesystem;
using utils::testing::runChild;

constexpr uid_t kOtherUser = 65534;  // nobody
const std::u16string kDeclaration = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n";

class XmlSave : public XmlFolderTest<utils::linuxport::LibxmlDom> {
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
  // The root element's name of the document at path, or "" when it does not load.
  static std::wstring rootName(const fs::path& path) {
    XmlObject* out = nullptr;
    if (XmlObject::Load(path.wstring().c_str(), &out, L"") != OBJECT_ERROR_NONE) return L"";
    std::unique_ptr<XmlObject> root(out);
    return root->GetBasename();
  }
  static int save(const wchar_t* name, const fs::path& path) {
    XmlObject root(name);
    return root.Save(path.wstring().c_str());
  }
  static ino_t inode(const fs::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
  }
};

TEST_F(XmlSave, DocumentsAreWrittenExactly) {
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
  b->AppendChild(new XmlObject(L"e"));
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
  root.AppendChild(d);

  EXPECT_EQ(saved(root), kDeclaration +
                             u"<a x=\"2\" q=\"&lt;&amp;&gt;&quot;' &#9;&#13;&#10; end\" xml:lang=\"fr\">"
                             u"  t &lt;&amp;&gt; ]]&gt; &#13;\n\u20AC\u0085 \U0001F600"
                             u"<b> <e/></b><\u00E9t\u00E9.c-d_e e=\"\" p:q=\"z\U0010FFFF\"/><d></d></a>\n");

  XmlObject empty(L"r");
  EXPECT_EQ(saved(empty), kDeclaration + u"<r/>\n");
}

TEST_F(XmlSave, LongTextsAndManyNamesAreWrittenWhole) {
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

TEST_F(XmlSave, AnyRefusedNameOrTextWritesNothing) {
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

TEST_F(XmlSave, AFailingSystemCallKeepsTheOldFileWhole) {
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

TEST_F(XmlSave, WriterFollowsDomRulesWhenUsedDirectly) {
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

TEST_F(XmlSave, SymbolicLinksAreFollowedToTheFileTheyName) {
  fs::create_directories(dir_ / "real");
  fs::create_directories(dir_ / "links");
  ASSERT_EQ(save(L"old", dir_ / "real" / "t.xml"), 1);
  fs::create_symlink("../real/t.xml", dir_ / "links" / "l1");
  fs::create_symlink("links/l1", dir_ / "l2");
  EXPECT_EQ(save(L"new", dir_ / "l2"), 1);
  EXPECT_TRUE(fs::is_symlink(dir_ / "l2"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "links" / "l1"));
  EXPECT_EQ(rootName(dir_ / "real" / "t.xml"), L"new");
  EXPECT_EQ(namesIn(dir_ / "real"), std::vector<std::string>{"t.xml"});
  EXPECT_EQ(namesIn(dir_ / "links"), std::vector<std::string>{"l1"});

  // A link to nothing yet: the file it names is made, the link stays.
  fs::create_symlink(dir_ / "real" / "made.xml", dir_ / "dangling");
  EXPECT_EQ(save(L"made", dir_ / "dangling"), 1);
  EXPECT_TRUE(fs::is_symlink(dir_ / "dangling"));
  EXPECT_EQ(rootName(dir_ / "real" / "made.xml"), L"made");

  // A loop of links: nothing to write.
  fs::create_symlink("b", dir_ / "a");
  fs::create_symlink("a", dir_ / "b");
  EXPECT_EQ(save(L"loop", dir_ / "a"), 0);
  EXPECT_TRUE(fs::is_symlink(dir_ / "a"));
}

TEST_F(XmlSave, NewFilesTakeTheMaskOldOnesKeepLinksOwnerModeAndAttributes) {
  const fs::path file = dir_ / "t.xml";
  const mode_t mask = ::umask(022);
  ::umask(mask);
  ASSERT_EQ(save(L"old", file), 1);
  struct stat status {};
  ASSERT_EQ(::stat(file.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0666u & ~mask) << "a new file takes the process's mask";
  // Another name for the same file: both names see the new content.
  fs::create_hard_link(file, dir_ / "h.xml");
  const ino_t linked = inode(file);
  EXPECT_EQ(save(L"both", file), 1);
  EXPECT_EQ(inode(file), linked);
  EXPECT_EQ(rootName(dir_ / "h.xml"), L"both");
  EXPECT_EQ(namesIn(dir_), (std::vector<std::string>{"h.xml", "t.xml"}));
  fs::remove(dir_ / "h.xml");

  // A file of its own is replaced whole, keeping mode, attributes and owner.
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  const bool attributes = ::setxattr(file.c_str(), "user.origin", "kept", 4, 0) == 0;
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(file.c_str(), 4242, 4243), 0);
  }
  const ino_t before = inode(file);
  EXPECT_EQ(save(L"replaced", file), 1);
  EXPECT_NE(inode(file), before) << "not replaced in one step";
  EXPECT_EQ(rootName(file), L"replaced");
  ASSERT_EQ(::stat(file.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(status.st_uid, 4242u);
    EXPECT_EQ(status.st_gid, 4243u);
  }
  if (attributes) {
    char value[16] = {};
    EXPECT_EQ(::getxattr(file.c_str(), "user.origin", value, sizeof value), 4);
    EXPECT_STREQ(value, "kept");
  }
  EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"t.xml"});
}

TEST_F(XmlSave, FolderRightsDecideHowAFileIsWrittenAndReadOnlyFilesStay) {
  const bool root = ::geteuid() == 0;
  const uid_t writer = root ? kOtherUser : ::geteuid();
  // A writable file in a folder that takes no new file: written in place.
  const fs::path closed = dir_ / "closed";
  fs::create_directories(closed);
  ASSERT_EQ(save(L"old", closed / "t.xml"), 1);
  ASSERT_EQ(::chown((closed / "t.xml").c_str(), writer, static_cast<gid_t>(-1)), 0);
  ASSERT_EQ(::chmod((closed / "t.xml").c_str(), 0644), 0);
  ASSERT_EQ(::chmod(closed.c_str(), 0555), 0);
  const ino_t closedInode = inode(closed / "t.xml");
  // A read-only file in an open folder: refused, not replaced.
  const fs::path open = dir_ / "open";
  fs::create_directories(open);
  ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
  ASSERT_EQ(save(L"old", open / "ro.xml"), 1);
  ASSERT_EQ(::chown((open / "ro.xml").c_str(), writer, static_cast<gid_t>(-1)), 0);
  ASSERT_EQ(::chmod((open / "ro.xml").c_str(), 0444), 0);
  const std::string readOnly = readFile(open / "ro.xml");
  // Another user's file that this one may write: its owner cannot be given to
  // a new file, so it is written in place and keeps its owner.
  ASSERT_EQ(save(L"old", open / "theirs.xml"), 1);
  ASSERT_EQ(::chmod((open / "theirs.xml").c_str(), 0666), 0);
  const ino_t theirsInode = inode(open / "theirs.xml");

  const int result = runChild(
                         [&] {
                           int failures = 0;
                           if (save(L"inplace", closed / "t.xml") != 1) failures |= 1;
                           if (save(L"refused", open / "ro.xml") != 0) failures |= 2;
                           if (root && save(L"theirs", open / "theirs.xml") != 1) failures |= 4;
                           if (save(L"new", closed / "new.xml") != 0) failures |= 8;  // no new file in that folder
                           return failures;
                         },
                         {.asOtherUser = true})
                         .code;
  EXPECT_EQ(result, 0);
  EXPECT_EQ(rootName(closed / "t.xml"), L"inplace");
  EXPECT_EQ(inode(closed / "t.xml"), closedInode);
  EXPECT_EQ(namesIn(closed), std::vector<std::string>{"t.xml"});
  EXPECT_EQ(readFile(open / "ro.xml"), readOnly);
  if (root) {
    EXPECT_EQ(rootName(open / "theirs.xml"), L"theirs");
    EXPECT_EQ(inode(open / "theirs.xml"), theirsInode);
    struct stat status {};
    ASSERT_EQ(::stat((open / "theirs.xml").c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 0u);
  }
  EXPECT_EQ(namesIn(open), (std::vector<std::string>{"ro.xml", "theirs.xml"}));
}

TEST_F(XmlSave, TargetsThatAreNotRegularFilesAreRefused) {
  const fs::path fifo = dir_ / "fifo.xml";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  // Bounded, so that a save that opened the FIFO would fail rather than hang.
  auto result = std::async(std::launch::async, [&] { return save(L"r", fifo); });
  ASSERT_EQ(result.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(result.get(), 0);
  EXPECT_TRUE(fs::is_fifo(fifo));
  fs::create_directories(dir_ / "folder.xml");
  EXPECT_EQ(save(L"r", dir_ / "folder.xml"), 0);
  EXPECT_TRUE(fs::is_directory(dir_ / "folder.xml"));
  EXPECT_EQ(save(L"r", dir_ / "trailing" / ""), 0);
  // A device (the null device's numbers), where the system lets us make one.
  const fs::path device = dir_ / "null.xml";
  if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    EXPECT_EQ(save(L"r", device), 0);
    EXPECT_TRUE(fs::is_character_file(device));
  }
  for (const std::string& name : namesIn(dir_)) EXPECT_EQ(name.find("xmlsave"), std::string::npos) << name;
}

TEST_F(XmlSave, TemporariesOfDeadSavesAreRemovedAndLiveOnesKept) {
  const fs::path target = dir_ / "out.xml";
  ASSERT_EQ(save(L"old", target), 1);
  // A save that dies after making its temporary file (no destructor runs).
  ASSERT_EQ(0, runChild([&] {
                 auto* file = new utils::linuxport::FileReplacement();
                 return file->begin(target.string()) == 0 && !file->inPlace() ? 0 : 1;
               }).code);
  std::vector<std::string> left = namesIn(dir_);
  ASSERT_EQ(left.size(), 2u);
  const std::string dead = left[0];
  EXPECT_EQ(dead.rfind(".out.xml.xmlsave-", 0), 0u) << dead;

  // One in use by a live save (it holds the lock), a link and a longer name
  // with the same start: all kept.
  const std::string live = ".out.xml.xmlsave-LIVE01";
  write(live, "in use");
  const int liveFd = ::open((dir_ / live).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(liveFd, 0);
  ASSERT_EQ(::flock(liveFd, LOCK_EX), 0);
  write("keep.txt", "kept");
  fs::create_symlink("keep.txt", dir_ / ".out.xml.xmlsave-LINK01");
  write(".out.xml.xmlsave-LONGER1", "other");
  EXPECT_EQ(save(L"new", target), 1);
  ::close(liveFd);
  EXPECT_EQ(namesIn(dir_), (std::vector<std::string>{".out.xml.xmlsave-LINK01", ".out.xml.xmlsave-LIVE01",
                                                     ".out.xml.xmlsave-LONGER1", "keep.txt", "out.xml"}));
  EXPECT_EQ(readFile(dir_ / "keep.txt"), "kept");
  EXPECT_EQ(rootName(target), L"new");
}

}  // namespace
