// Which file Save writes and what the file keeps: symbolic links, hard links,
// owner, mode, extended attributes, folders that take no new file, read-only
// files, targets that are not regular files, and temporary files left by a
// process that died while saving.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>

#include "child_process.h"
#include "port/linux/file_replace.h"
#include "utils/xml.h"
#include "xml_test_support.h"

#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"

namespace {

namespace fs = std::filesystem;
using utils::testing::runChild;

constexpr uid_t kOtherUser = 65534;  // nobody

class XmlSaveFile : public XmlFileTest {
 protected:
  void writeFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
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

TEST_F(XmlSaveFile, SymbolicLinksAreFollowedToTheFileTheyName) {
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

TEST_F(XmlSaveFile, NewFilesTakeTheMaskOldOnesKeepLinksOwnerModeAndAttributes) {
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

TEST_F(XmlSaveFile, FolderRightsDecideHowAFileIsWrittenAndReadOnlyFilesStay) {
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

TEST_F(XmlSaveFile, TargetsThatAreNotRegularFilesAreRefused) {
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

TEST_F(XmlSaveFile, TemporariesOfDeadSavesAreRemovedAndLiveOnesKept) {
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
  writeFile(dir_ / live, "in use");
  const int liveFd = ::open((dir_ / live).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(liveFd, 0);
  ASSERT_EQ(::flock(liveFd, LOCK_EX), 0);
  writeFile(dir_ / "keep.txt", "kept");
  fs::create_symlink("keep.txt", dir_ / ".out.xml.xmlsave-LINK01");
  writeFile(dir_ / ".out.xml.xmlsave-LONGER1", "other");
  EXPECT_EQ(save(L"new", target), 1);
  ::close(liveFd);
  EXPECT_EQ(namesIn(dir_), (std::vector<std::string>{".out.xml.xmlsave-LINK01", ".out.xml.xmlsave-LIVE01",
                                                     ".out.xml.xmlsave-LONGER1", "keep.txt", "out.xml"}));
  EXPECT_EQ(readFile(dir_ / "keep.txt"), "kept");
  EXPECT_EQ(rootName(target), L"new");
}

}  // namespace
