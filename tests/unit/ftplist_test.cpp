#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "transfer/ftp_list_check.h"
#include "utils/transfer.h"

namespace {

using Text = std::basic_string<FTPCHAR>;

Text text(const char* ascii) {
  Text out;
  for (const char* c = ascii; *c != 0; ++c) out.push_back(static_cast<FTPCHAR>(*c));
  return out;
}

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using Block = std::unique_ptr<BYTE, FreeDeleter>;

Block build(const FTPCHAR* lead, const std::vector<const FTPCHAR*>& names) {
  return Block(static_cast<BYTE*>(
      BuildFtpFileList(lead, names.empty() ? nullptr : names.data(), static_cast<DWORD>(names.size()))));
}

std::vector<BYTE> bytesOf(const BYTE* block, size_t size) { return std::vector<BYTE>(block, block + size); }

void appendUnits(std::vector<BYTE>& out, const char* ascii) {
  for (const char* c = ascii;; ++c) {
    out.push_back(static_cast<BYTE>(*c));
    out.push_back(0);
    if (*c == 0) break;
  }
}

TEST(FtpFileList, LayoutOfTheThirtyEightByteExample) {
  const Text lead = text("ABCDE"), first = text("abc"), second = text("wxyz");
  const std::vector<const FTPCHAR*> names{first.c_str(), second.c_str()};
  EXPECT_EQ(38u, CalcFtpFileListSize(lead.c_str(), names.data(), 2));
  Block block = build(lead.c_str(), names);
  ASSERT_NE(nullptr, block);

  std::vector<BYTE> expected{38, 0, 0, 0};
  appendUnits(expected, "ABCDE");                 // offset 4
  appendUnits(expected, "abc");                   // offset 16
  appendUnits(expected, "wxyz");                  // offset 24
  expected.insert(expected.end(), {0, 0, 0, 0});  // list terminator at 34, spare bytes
  ASSERT_EQ(38u, expected.size());
  EXPECT_EQ(expected, bytesOf(block.get(), 38));

  // Asking for the leading string: it and two names.
  FTPCHAR* leadOut = nullptr;
  FTPCHAR** array = nullptr;
  DWORD count = 0;
  ASSERT_TRUE(GetFtpFileList(block.get(), &leadOut, &array, &count));
  ASSERT_EQ(2u, count);
  EXPECT_EQ(reinterpret_cast<FTPCHAR*>(block.get() + 4), leadOut);
  EXPECT_EQ(lead, Text(leadOut));
  EXPECT_EQ(reinterpret_cast<FTPCHAR*>(block.get() + 16), array[0]);
  EXPECT_EQ(reinterpret_cast<FTPCHAR*>(block.get() + 24), array[1]);
  std::free(array);

  // Without it the leading string is the first of three names.
  array = nullptr;
  ASSERT_TRUE(GetFtpFileList(block.get(), nullptr, &array, &count));
  ASSERT_EQ(3u, count);
  EXPECT_EQ(lead, Text(array[0]));
  EXPECT_EQ(second, Text(array[2]));
  std::free(array);
  EXPECT_EQ(3u, GetFtpFileListCount(block.get()));

  // The array and the count are optional.
  EXPECT_TRUE(GetFtpFileList(block.get(), &leadOut, nullptr, nullptr));
  EXPECT_TRUE(GetFtpFileList(block.get(), &leadOut, nullptr, &count));
  EXPECT_EQ(2u, count);
  EXPECT_EQ(lead, Text(leadOut));
  EXPECT_TRUE(GetFtpFileList(block.get(), nullptr, nullptr, nullptr));
}

TEST(FtpFileList, EmptyListsAndEmptyLeadingString) {
  EXPECT_EQ(8u, CalcFtpFileListSize(nullptr, nullptr, 0));
  Block empty = build(nullptr, {});
  ASSERT_NE(nullptr, empty);
  EXPECT_EQ((std::vector<BYTE>{8, 0, 0, 0, 0, 0, 0, 0}), bytesOf(empty.get(), 8));
  EXPECT_EQ(0u, GetFtpFileListCount(empty.get()));
  FTPCHAR** array = reinterpret_cast<FTPCHAR**>(&array);  // must be overwritten with null
  DWORD count = 99;
  ASSERT_TRUE(GetFtpFileList(empty.get(), nullptr, &array, &count));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(nullptr, array);

  // A non-null array with count 0 writes no names.
  const Text name = text("x");
  const FTPCHAR* one[] = {name.c_str()};
  EXPECT_EQ(8u, CalcFtpFileListSize(nullptr, one, 0));

  // An empty leading string: a lone 0 at offset 4, the names after it.
  const Text blank, a = text("a.txt");
  Block block = build(blank.c_str(), {a.c_str()});
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(10u + 12u, CalcFtpFileListSize(blank.c_str(), std::vector<const FTPCHAR*>{a.c_str()}.data(), 1));
  EXPECT_EQ(0u, GetFtpFileListCount(block.get()));
  FTPCHAR* lead = nullptr;
  array = nullptr;
  ASSERT_TRUE(GetFtpFileList(block.get(), &lead, &array, &count));
  EXPECT_EQ(Text(), Text(lead));
  ASSERT_EQ(1u, count);
  EXPECT_EQ(a, Text(array[0]));
  std::free(array);
}

TEST(FtpFileList, PutLeavesSizeFieldAndSpareBytesAlone) {
  const Text lead = text("L"), name = text("name");
  const FTPCHAR* names[] = {name.c_str()};
  const DWORD size = CalcFtpFileListSize(lead.c_str(), names, 1);
  ASSERT_EQ(2u * 1 + 10 + 2u * 4 + 2, size);
  std::vector<BYTE> block(size, 0xEE);
  EXPECT_TRUE(PutFtpFileList(block.data(), lead.c_str(), names, 1));
  EXPECT_EQ((std::vector<BYTE>{0xEE, 0xEE, 0xEE, 0xEE}), std::vector<BYTE>(block.begin(), block.begin() + 4));
  EXPECT_EQ(0xEE, block[size - 1]);
  EXPECT_EQ(0xEE, block[size - 2]);
  EXPECT_EQ(0, block[size - 3]);
  EXPECT_EQ(0, block[size - 4]);
  Block built = build(lead.c_str(), {name.c_str()});
  EXPECT_EQ(bytesOf(built.get() + 4, size - 6), std::vector<BYTE>(block.begin() + 4, block.end() - 2));
}

TEST(FtpFileList, NullEntriesAreSkippedAlike) {
  const Text a = text("alpha"), b = text("beta");
  const std::vector<const FTPCHAR*> withNulls{nullptr, a.c_str(), nullptr, b.c_str(), nullptr};
  const std::vector<const FTPCHAR*> compact{a.c_str(), b.c_str()};
  const DWORD size = CalcFtpFileListSize(nullptr, withNulls.data(), 5);
  EXPECT_EQ(CalcFtpFileListSize(nullptr, compact.data(), 2), size);
  Block sparse = build(nullptr, withNulls);
  Block dense = build(nullptr, compact);
  ASSERT_NE(nullptr, sparse);
  EXPECT_EQ(bytesOf(dense.get(), size), bytesOf(sparse.get(), size));
  std::vector<BYTE> put(size, 0);
  PutFtpFileList(put.data(), nullptr, withNulls.data(), 5);
  EXPECT_EQ(bytesOf(dense.get() + 4, size - 6), std::vector<BYTE>(put.begin() + 4, put.end() - 2));
  EXPECT_EQ(2u, GetFtpFileListCount(sparse.get()));
}

#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Names adding up to more than 4 GiB: the size does not wrap around to a small
// number that a build would then overrun. (Reads 4 GiB: release builds only.)
TEST(FtpFileList, SizeBeyondThirtyTwoBitsIsRefused) {
  const size_t units = size_t{1} << 25;  // 64 MiB per name
  Text huge(units, static_cast<FTPCHAR>('x'));
  const std::vector<const FTPCHAR*> names(65, huge.c_str());  // 65 * 64 MiB > 4 GiB
  EXPECT_EQ(0u, CalcFtpFileListSize(nullptr, names.data(), 65));
  EXPECT_EQ(nullptr, BuildFtpFileList(nullptr, names.data(), 65));
}
#endif

// ---- Checking blocks that come from outside ----

bool check(const std::vector<BYTE>& data, bool withLead, std::string* error) {
  return utils::transfer::checkFtpFileList(data.data(), data.size(), withLead, error);
}

TEST(FtpFileListCheck, AcceptsWhatBuildMakesAndRefusesEveryTruncation) {
  const Text lead = text("dir"), a = text("a"), b = text("bb");
  for (const bool withLead : {false, true}) {
    Block block = build(withLead ? lead.c_str() : nullptr, {a.c_str(), b.c_str()});
    const DWORD size = CalcFtpFileListSize(withLead ? lead.c_str() : nullptr,
                                           std::vector<const FTPCHAR*>{a.c_str(), b.c_str()}.data(), 2);
    std::vector<BYTE> data = bytesOf(block.get(), size);
    std::string error;
    EXPECT_TRUE(check(data, withLead, &error)) << error;
    for (size_t cut = 0; cut < size; ++cut) {
      std::vector<BYTE> shorter(data.begin(), data.begin() + cut);
      if (cut >= 4) shorter[0] = static_cast<BYTE>(cut);  // whatever the size field says
      EXPECT_FALSE(check(shorter, withLead, &error)) << "cut at " << cut;
      EXPECT_FALSE(error.empty());
    }
  }
}

TEST(FtpFileListCheck, NamesEachMalformation) {
  const struct {
    std::vector<BYTE> block;
    bool withLead;
    const char* error;  // a part of the error; null: the block is sound
  } rows[] = {
      {{8, 0, 0}, false, "smallest block has 8"},
      // The size field plays no part: a block made in place never had it written.
      {{9, 0, 0, 0, 0, 0, 0, 0}, false, nullptr},
      {{0xAA, 0xBB, 0xCC, 0xDD, 'a', 0, 0, 0, 0, 0, 0, 0}, false, nullptr},
      {{9, 0, 0, 0, 0, 0, 0, 0, 0}, false, "odd"},
      {{10, 0, 0, 0, 'a', 0, 'b', 0, 0, 0}, false, "terminat"},           // no terminator before the spare bytes
      {{12, 0, 0, 0, 0, 0, 'x', 0, 0, 0, 0, 0}, false, "after the end"},  // bytes after the list's end
      // An empty leading string needs its own terminator and the list's.
      {{8, 0, 0, 0, 0, 0, 0, 0}, true, ""},
      {{10, 0, 0, 0, 0, 0, 0, 0, 0, 0}, true, nullptr},
  };
  for (const auto& row : rows) {
    std::string error;
    const std::string name = ::testing::PrintToString(row.block) + (row.withLead ? " with lead" : "");
    EXPECT_EQ(check(row.block, row.withLead, &error), row.error == nullptr) << name << ": " << error;
    EXPECT_TRUE(row.error == nullptr || error.find(row.error) != std::string::npos) << name << ": " << error;
  }
}

}  // namespace
