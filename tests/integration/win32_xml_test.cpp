// Load and save on the MSXML 6.0 adapter (run under Wine here).
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "port/win32/xml_msxml.h"
#include "utils/xml.h"
#include "wine_detect.h"
#include "xml_namespace_cases.h"
#include "xml_test_support.h"

#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"

namespace {

namespace fs = std::filesystem;

using Win32Xml = XmlFolderTest<utils::win32port::MsxmlDom>;  // paths are wide strings here

TEST_F(Win32Xml, DocumentsLoadIntoTrees) {
  auto mixed = load("<a>x<b/>y</a>");
  ASSERT_NE(mixed, nullptr);
  EXPECT_STREQ(mixed->GetNodeText(), L"y");
  ASSERT_EQ(mixed->GetChildernNumber(), 1u);
  EXPECT_EQ(mixed->GetChild(0)->HasText(), 0);
  EXPECT_EQ(load("<a><![CDATA[only]]></a>")->HasText(), 0);
  auto ns = load("<p:a xmlns:p='u:1' p:b='1'/>");
  EXPECT_STREQ(ns->GetBasename(), L"a");
  ASSERT_EQ(ns->GetAttributeNumber(), 2u);
  // Document order; Wine's MSXML lists namespace declarations after the other attributes.
  const std::wstring first = ns->GetAttribute(0).first;
  const std::wstring second = ns->GetAttribute(1).first;
  EXPECT_TRUE((first == L"p" && second == L"b") ||
              (utils::testing::runningUnderWine() && first == L"b" && second == L"p"))
      << first << ", " << second;
  auto empty = load("<a b=''/>");
  ASSERT_NE(empty->GetAttribute(0).second, nullptr);
  EXPECT_STREQ(empty->GetAttribute(0).second, L"");
  EXPECT_STREQ(load("<a>x<!--c-->y</a>")->GetNodeText(), L"y");
}

// The codes of each failing step; the schema covers elements in no namespace only.
TEST_F(Win32Xml, FailuresGiveTheirCodes) {
  using namespace utils::testing;  // the documents and schemas every platform's tests share
  const std::wstring plain = write("plain.xsd", std::string(kSchemaStart) + kSchemaBody);
  const std::wstring namespaced = write("tns.xsd", std::string(kSchemaStart) + kNamespaceAttributes + kSchemaBody);
  XmlObject* out = sentinel();
  EXPECT_EQ(XmlObject::Load((dir_ / "missing.xml").wstring().c_str(), &out, L""), OBJECT_ERROR_LOAD_DOCUMENT);
  load("<a><b></a>", OBJECT_ERROR_LOAD_DOCUMENT);
  EXPECT_EQ(XmlObject::Load((dir_ / "doc.xml").wstring().c_str(), &out, (dir_ / "none.xsd").wstring().c_str()),
            OBJECT_ERROR_LOAD_SCHEMA);
  EXPECT_EQ(out, sentinel());
  for (const auto& item : kNamespaceCases)
    load(item.document, item.expected, item.namespacedSchema ? namespaced : plain);
}

TEST_F(Win32Xml, SavesWriteUtf16AndFailedOnesKeepTheOldFile) {
  XmlObject root(L"a");
  root.AppendAttribute(L"x", L"1");
  root.AppendAttribute(L"q", L"<&>\"");
  root.AppendAttribute(L"x", L"2");
  root.SetNodeText(L"t <&>");
  root.AppendChild(new XmlObject(L"b"));
  const std::wstring path = (dir_ / "out.xml").wstring();
  ASSERT_EQ(root.Save(path.c_str()), 1);
  const std::string before = readFile(dir_ / "out.xml");
  EXPECT_EQ(before.substr(0, 2), "\xFF\xFE");
  XmlObject* out = nullptr;
  ASSERT_EQ(XmlObject::Load(path.c_str(), &out, L""), OBJECT_ERROR_NONE);
  std::unique_ptr<XmlObject> back(out);
  ASSERT_EQ(back->GetAttributeNumber(), 2u);
  EXPECT_STREQ(back->GetAttribute(0).second, L"2");
  EXPECT_STREQ(back->GetAttribute(1).second, L"<&>\"");
  EXPECT_STREQ(back->GetNodeText(), L"t <&>");
  ASSERT_EQ(back->GetChildernNumber(), 1u);
  EXPECT_STREQ(back->GetChild(0)->GetBasename(), L"b");

  // A bad name or text anywhere: 0, nothing written, the old file kept.
  XmlObject badName(L"r");
  badName.AppendChild(new XmlObject(L"1abc"));
  XmlObject badText(L"r");
  badText.SetNodeText(L"a\x01");
  for (XmlObject* bad : {&badName, &badText}) {
    EXPECT_EQ(bad->Save(path.c_str()), 0);
    EXPECT_EQ(bad->Save((dir_ / "new.xml").wstring().c_str()), 0);
    EXPECT_FALSE(fs::exists(dir_ / "new.xml"));
  }
  EXPECT_EQ(readFile(dir_ / "out.xml"), before);
  // A missing folder: 0 and no file.
  EXPECT_EQ(root.Save((dir_ / "none" / "out.xml").wstring().c_str()), 0);
  EXPECT_FALSE(fs::exists(dir_ / "none" / "out.xml"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1) << "a temporary file was left behind";
}

TEST_F(Win32Xml, SavesWriteTheFileALinkNamesAndKeepWhatTheFileHas) {
  XmlObject first(L"first");
  XmlObject second(L"second");
  const fs::path file = dir_ / "t.xml";
  ASSERT_EQ(first.Save(file.wstring().c_str()), 1);
  const std::string firstBytes = readFile(file);
  ASSERT_EQ(second.Save((dir_ / "second.xml").wstring().c_str()), 1);
  const std::string secondBytes = readFile(dir_ / "second.xml");
  fs::remove(dir_ / "second.xml");

  // Another name for the same file sees the new content.
  ASSERT_TRUE(CreateHardLinkW((dir_ / "h.xml").wstring().c_str(), file.wstring().c_str(), nullptr));
  EXPECT_EQ(second.Save(file.wstring().c_str()), 1);
  EXPECT_EQ(readFile(dir_ / "h.xml"), secondBytes);
  fs::remove(dir_ / "h.xml");

  // A read-only file is not replaced.
  ASSERT_TRUE(SetFileAttributesW(file.wstring().c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(first.Save(file.wstring().c_str()), 0);
  EXPECT_EQ(readFile(file), secondBytes);
  ASSERT_TRUE(SetFileAttributesW(file.wstring().c_str(), FILE_ATTRIBUTE_NORMAL));

  // A link is followed to its file, and stays a link.
  const fs::path link = dir_ / "link.xml";
  // Where the system makes working links (Wine makes ones that lead nowhere).
  const bool linked =
      CreateSymbolicLinkW(link.wstring().c_str(), file.wstring().c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
  const DWORD linkAttributes = GetFileAttributesW(link.wstring().c_str());
  if (linked && linkAttributes != INVALID_FILE_ATTRIBUTES && (linkAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    EXPECT_EQ(first.Save(link.wstring().c_str()), 1);
    EXPECT_EQ(readFile(file), firstBytes);
    EXPECT_NE(GetFileAttributesW(link.wstring().c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  }
  std::error_code ignored;
  fs::remove(link, ignored);

  // Not files: a folder and a device.
  fs::create_directories(dir_ / "folder.xml");
  EXPECT_EQ(first.Save((dir_ / "folder.xml").wstring().c_str()), 0);
  EXPECT_TRUE(fs::is_directory(dir_ / "folder.xml"));
  fs::remove(dir_ / "folder.xml");
  EXPECT_EQ(first.Save(L"NUL"), 0);

  // Temporary files of a save that died are removed; one in use stays.
  const fs::path dead = dir_ / ".t.xml.xmlsave-DEAD01";
  const fs::path live = dir_ / ".t.xml.xmlsave-LIVE01";
  std::ofstream(dead) << "left by a crash";
  HANDLE held = CreateFileW(live.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(second.Save(file.wstring().c_str()), 1);
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_TRUE(fs::exists(live));
  CloseHandle(held);
  fs::remove(live);
  EXPECT_EQ(readFile(file), secondBytes);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1);
}

}  // namespace
