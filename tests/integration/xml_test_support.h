// What the tests of the platforms' XML adapters share: the adapter installed as
// the platform's XML port, a scratch folder of the test's own (mode 0755,
// whatever the umask) with helpers to write, read and list files in it, and a
// load of a document written there.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "port/platform.h"
#include "utils/xml.h"

template <typename Dom>
class XmlFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    utils::port::Platform record;
    record.xmlDom = &dom_;
    utils::port::installPlatform(record);
    // A folder no other test program uses: creating it fails when it exists.
    const std::string suite = ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name();
    for (int n = 0;; ++n) {
      dir_ = std::filesystem::temp_directory_path() / (suite + "_" + std::to_string(n));
      if (std::filesystem::create_directory(dir_)) break;
    }
    std::filesystem::permissions(dir_, std::filesystem::perms(0755));
  }
  void TearDown() override {
    // Folders a test made read-only are made writable again, so that they go.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_)) {
      if (std::filesystem::is_directory(entry.symlink_status())) {
        std::filesystem::permissions(entry.path(), std::filesystem::perms(0755));
      }
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Writes bytes to name in the scratch folder and gives its path.
  std::filesystem::path write(const std::string& name, const std::string& bytes) const {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
    return dir_ / name;
  }
  static std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string read(const std::string& name) const { return readFile(dir_ / name); }
  // The names in folder, sorted.
  static std::vector<std::string> namesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // Loads xml (written to doc.xml) with schema; the tree, or null when the load
  // gave the expected failure and left its output untouched.
  std::unique_ptr<XmlObject> load(const std::string& xml, OBJECT_ERROR_CODE expected = OBJECT_ERROR_NONE,
                                  const std::wstring& schema = L"") {
    XmlObject* out = sentinel();
    EXPECT_EQ(XmlObject::Load(write("doc.xml", xml).wstring().c_str(), &out, schema.c_str()), expected)
        << xml << " " << schema;
    if (expected != OBJECT_ERROR_NONE) {
      EXPECT_EQ(out, sentinel());
      return nullptr;
    }
    return std::unique_ptr<XmlObject>(out);
  }
  static XmlObject* sentinel() { return reinterpret_cast<XmlObject*>(0x5a5a); }

  Dom dom_;
  std::filesystem::path dir_;
};
