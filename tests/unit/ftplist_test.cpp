#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "transfer/ftp_list_check.h"
#include "utils/transfer.h"

namespace {

using Text = std::basic_string<FTPCHAR>;
using Names = std::vector<const FTPCHAR*>;

Text text(const char* ascii) { return Text(ascii, ascii + std::char_traits<char>::length(ascii)); }

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using Block = std::unique_ptr<BYTE, FreeDeleter>;

Block build(const FTPCHAR* lead, const Names& names) {
  return Block(static_cast<BYTE*>(
      BuildFtpFileList(lead, names.empty() ? nullptr : names.data(), static_cast<DWORD>(names.size()))));
}
DWORD sizeOf(const FTPCHAR* lead, const Names& names) {
  return CalcFtpFileListSize(lead, names.data(), static_cast<DWORD>(names.size()));
}
std::vector<BYTE> bytesOf(const BYTE* block, size_t from, size_t to) {
  return std::vector<BYTE>(block + from, block + to);
}

// The strings GetFtpFileList gives (the leading one first when asked for), the
// names' array freed.
std::vector<Text> listed(BYTE* block, bool withLead) {
  FTPCHAR* lead = nullptr;
  FTPCHAR** array = reinterpret_cast<FTPCHAR**>(&lead);  // must be overwritten (with null when empty)
  DWORD count = 99;
  EXPECT_TRUE(GetFtpFileList(block, withLead ? &lead : nullptr, &array, &count));
  std::vector<Text> out;
  if (withLead) out.emplace_back(lead);
  for (DWORD i = 0; i < count; ++i) out.emplace_back(array[i]);
  EXPECT_TRUE(count != 0 || array == nullptr);
  std::free(array);
  return out;
}

TEST(FtpFileList, LayoutOfTheThirtyEightByteExample) {
  const Text lead = text("ABCDE"), first = text("abc"), second = text("wxyz");
  const Names names{first.c_str(), second.c_str()};
  EXPECT_EQ(38u, sizeOf(lead.c_str(), names));
  Block block = build(lead.c_str(), names);
  ASSERT_NE(nullptr, block);
  std::vector<BYTE> expected{38, 0, 0, 0};
  for (const char* part : {"ABCDE", "abc", "wxyz", ""}) {  // at offsets 4, 16, 24; list terminator at 34
    for (const char* c = part;; ++c) {
      expected.insert(expected.end(), {static_cast<BYTE>(*c), 0});
      if (*c == 0) break;
    }
  }
  expected.insert(expected.end(), {0, 0});  // spare bytes
  EXPECT_EQ(expected, bytesOf(block.get(), 0, 38));

  FTPCHAR* leadOut = nullptr;
  FTPCHAR** array = nullptr;
  DWORD count = 0;
  ASSERT_TRUE(GetFtpFileList(block.get(), &leadOut, &array, &count));
  ASSERT_EQ(2u, count);  // the names point into the block
  EXPECT_EQ(reinterpret_cast<FTPCHAR*>(block.get() + 4), leadOut);
  EXPECT_EQ(reinterpret_cast<FTPCHAR*>(block.get() + 16), array[0]);
  EXPECT_EQ(reinterpret_cast<FTPCHAR*>(block.get() + 24), array[1]);
  std::free(array);
  // Without asking for it, the leading string is the first of three names.
  EXPECT_EQ((std::vector<Text>{lead, first, second}), listed(block.get(), false));
  EXPECT_EQ(3u, GetFtpFileListCount(block.get()));
  // The array and the count are optional.
  EXPECT_TRUE(GetFtpFileList(block.get(), &leadOut, nullptr, nullptr));
  EXPECT_TRUE(GetFtpFileList(block.get(), &leadOut, nullptr, &count));
  EXPECT_EQ(2u, count);
  EXPECT_EQ(lead, Text(leadOut));
  EXPECT_TRUE(GetFtpFileList(block.get(), nullptr, nullptr, nullptr));
}

TEST(FtpFileList, EmptyListsNullEntriesAndPutInPlace) {
  // No names (a non-null array with count 0 writes none).
  const Text x = text("x"), blank, a = text("a.txt"), b = text("beta"), lead = text("L");
  EXPECT_EQ(8u, CalcFtpFileListSize(nullptr, nullptr, 0));
  EXPECT_EQ(8u, CalcFtpFileListSize(nullptr, Names{x.c_str()}.data(), 0));
  Block empty = build(nullptr, {});
  EXPECT_EQ((std::vector<BYTE>{8, 0, 0, 0, 0, 0, 0, 0}), bytesOf(empty.get(), 0, 8));
  EXPECT_EQ(0u, GetFtpFileListCount(empty.get()));
  EXPECT_TRUE(listed(empty.get(), false).empty());

  // An empty leading string: a lone 0 at offset 4, the names after it (which
  // counting, stopping at the empty string, does not see).
  Block blankLead = build(blank.c_str(), {a.c_str()});
  EXPECT_EQ(10u + 12u, sizeOf(blank.c_str(), {a.c_str()}));
  EXPECT_EQ(0u, GetFtpFileListCount(blankLead.get()));
  EXPECT_EQ((std::vector<Text>{blank, a}), listed(blankLead.get(), true));

  // Null entries are skipped alike by every function.
  const Names withNulls{nullptr, a.c_str(), nullptr, b.c_str(), nullptr}, compact{a.c_str(), b.c_str()};
  const DWORD size = sizeOf(nullptr, withNulls);
  EXPECT_EQ(sizeOf(nullptr, compact), size);
  Block sparse = build(nullptr, withNulls), dense = build(nullptr, compact);
  EXPECT_EQ(bytesOf(dense.get(), 0, size), bytesOf(sparse.get(), 0, size));
  EXPECT_EQ(2u, GetFtpFileListCount(sparse.get()));

  // Put writes the strings and the terminator only: the size field and the
  // spare bytes stay as they were.
  for (const FTPCHAR* first : {lead.c_str(), static_cast<const FTPCHAR*>(nullptr)}) {
    const Names& names = first != nullptr ? Names{b.c_str()} : withNulls;
    const DWORD putSize = sizeOf(first, names);
    std::vector<BYTE> put(putSize, 0xEE);
    EXPECT_TRUE(PutFtpFileList(put.data(), first, names.data(), static_cast<DWORD>(names.size())));
    Block built = build(first, names);
    EXPECT_EQ((std::vector<BYTE>{0xEE, 0xEE, 0xEE, 0xEE}), bytesOf(put.data(), 0, 4));
    EXPECT_EQ((std::vector<BYTE>{0xEE, 0xEE}), bytesOf(put.data(), putSize - 2, putSize));
    EXPECT_EQ(bytesOf(built.get(), 4, putSize - 2), bytesOf(put.data(), 4, putSize - 2));
  }
}

#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Names adding up to more than 4 GiB: the size does not wrap around to a small
// number that a build would then overrun. (Reads 4 GiB: release builds only.)
TEST(FtpFileList, SizeBeyondThirtyTwoBitsIsRefused) {
  const Text huge(size_t{1} << 25, static_cast<FTPCHAR>('x'));  // 64 MiB per name
  const Names names(65, huge.c_str());                          // 65 * 64 MiB > 4 GiB
  EXPECT_EQ(0u, sizeOf(nullptr, names));
  EXPECT_EQ(nullptr, build(nullptr, names));
}
#endif

// ---- Checking blocks that come from outside ----

bool check(const std::vector<BYTE>& data, bool withLead, std::string* error) {
  return utils::transfer::checkFtpFileList(data.data(), data.size(), withLead, error);
}

TEST(FtpFileListCheck, AcceptsWhatBuildMakesAndRefusesEveryTruncation) {
  const Text lead = text("dir"), a = text("a"), b = text("bb");
  for (const bool withLead : {false, true}) {
    const FTPCHAR* first = withLead ? lead.c_str() : nullptr;
    const DWORD size = sizeOf(first, {a.c_str(), b.c_str()});
    const std::vector<BYTE> data = bytesOf(build(first, {a.c_str(), b.c_str()}).get(), 0, size);
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
