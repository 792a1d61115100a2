// What the tests of the libxml2 adapter share: the adapter installed as the
// platform's XML port, and a scratch folder (mode 0755, whatever the umask)
// with helpers to write, read and list files in it.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "port/linux/xml_dom.h"
#include "port/platform.h"

class XmlFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    utils::port::Platform record;
    record.xmlDom = &dom_;
    utils::port::installPlatform(record);
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           (std::string(test->test_suite_name()) + "_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    ::chmod(dir_.c_str(), 0755);
  }
  void TearDown() override {
    // Folders a test made read-only are made writable again, so that they go.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_)) {
      if (std::filesystem::is_directory(entry.symlink_status())) ::chmod(entry.path().c_str(), 0755);
    }
    std::filesystem::remove_all(dir_);
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

  utils::linuxport::LibxmlDom dom_;
  std::filesystem::path dir_;
};
