#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "transfer/ftp_list_check.h"
#include "utils/transfer.h"

namespace {

using Text = std::basic_string<FTPCHAR>;
using Names = std::vector<const FTPCHAR*>;
using Bytes = std::vector<BYTE>;

Text text(const char* ascii) { return Text(ascii, ascii + std::char_traits<char>::length(ascii)); }

DWORD sizeOf(const FTPCHAR* lead, const Names& names) {
  return CalcFtpFileListSize(lead, names.data(), static_cast<DWORD>(names.size()));
}
// The block BuildFtpFileList makes, copied; empty when it makes none.
Bytes built(const FTPCHAR* lead, const Names& names) {
  auto* block = static_cast<BYTE*>(
      BuildFtpFileList(lead, names.empty() ? nullptr : names.data(), static_cast<DWORD>(names.size())));
  const Bytes bytes = block != nullptr ? Bytes(block, block + sizeOf(lead, names)) : Bytes();
  std::free(block);
  return bytes;
}

// The strings GetFtpFileList gives (the leading one first when asked for), the
// names' array freed.
std::vector<Text> listed(Bytes& block, bool withLead) {
  FTPCHAR* lead = nullptr;
  FTPCHAR** array = reinterpret_cast<FTPCHAR**>(&lead);  // must be overwritten (with null when empty)
  DWORD count = 99;
  EXPECT_TRUE(GetFtpFileList(block.data(), withLead ? &lead : nullptr, &array, &count));
  std::vector<Text> out(array, array + count);
  if (withLead) out.insert(out.begin(), lead);
  EXPECT_TRUE(count != 0 || array == nullptr);
  std::free(array);
  return out;
}

TEST(FtpFileList, LayoutOfTheThirtyEightByteExample) {
  const Text lead = text("ABCDE"), first = text("abc"), second = text("wxyz");
  const Names names{first.c_str(), second.c_str()};
  EXPECT_EQ(38u, sizeOf(lead.c_str(), names));
  Bytes block = built(lead.c_str(), names);
  // The size (38); the strings at offsets 4, 16 and 24; the list's end at 34; two spare bytes.
  const char layout[] = "&\0\0\0A\0B\0C\0D\0E\0\0\0a\0b\0c\0\0\0w\0x\0y\0z\0\0\0\0\0\0";
  EXPECT_EQ(Bytes(layout, layout + 38), block);

  FTPCHAR* leadOut = nullptr;
  FTPCHAR** array = nullptr;
  DWORD count = 0;
  ASSERT_TRUE(GetFtpFileList(block.data(), &leadOut, &array, &count));
  ASSERT_EQ(2u, count);  // the names point into the block
  EXPECT_EQ(reinterpret_cast<FTPCHAR*>(block.data() + 4), leadOut);
  EXPECT_EQ(reinterpret_cast<FTPCHAR*>(block.data() + 16), array[0]);
  EXPECT_EQ(reinterpret_cast<FTPCHAR*>(block.data() + 24), array[1]);
  std::free(array);
  // Without asking for it, the leading string is the first of three names.
  EXPECT_EQ((std::vector<Text>{lead, first, second}), listed(block, false));
  EXPECT_EQ(3u, GetFtpFileListCount(block.data()));
  // The array and the count are optional.
  EXPECT_TRUE(GetFtpFileList(block.data(), &leadOut, nullptr, nullptr));
  EXPECT_TRUE(GetFtpFileList(block.data(), &leadOut, nullptr, &count));
  EXPECT_EQ(2u, count);
  EXPECT_EQ(lead, Text(leadOut));
  EXPECT_TRUE(GetFtpFileList(block.data(), nullptr, nullptr, nullptr));
}

TEST(FtpFileList, EmptyListsNullEntriesAndPutInPlace) {
  // No names (a non-null array with count 0 writes none).
  const Text x = text("x"), blank, a = text("a.txt"), b = text("beta"), lead = text("L");
  EXPECT_EQ(8u, CalcFtpFileListSize(nullptr, nullptr, 0));
  EXPECT_EQ(8u, CalcFtpFileListSize(nullptr, Names{x.c_str()}.data(), 0));
  Bytes empty = built(nullptr, {});
  EXPECT_EQ((Bytes{8, 0, 0, 0, 0, 0, 0, 0}), empty);
  EXPECT_EQ(0u, GetFtpFileListCount(empty.data()));
  EXPECT_TRUE(listed(empty, false).empty());

  // An empty leading string: a lone 0 at offset 4, the names after it (which
  // counting, stopping at the empty string, does not see).
  Bytes blankLead = built(blank.c_str(), {a.c_str()});
  EXPECT_EQ(10u + 12u, blankLead.size());
  EXPECT_EQ(0u, GetFtpFileListCount(blankLead.data()));
  EXPECT_EQ((std::vector<Text>{blank, a}), listed(blankLead, true));

  // Null entries are skipped alike by every function.
  const Names withNulls{nullptr, a.c_str(), nullptr, b.c_str(), nullptr}, compact{a.c_str(), b.c_str()};
  EXPECT_EQ(sizeOf(nullptr, compact), sizeOf(nullptr, withNulls));
  Bytes sparse = built(nullptr, withNulls);
  EXPECT_EQ(built(nullptr, compact), sparse);
  EXPECT_EQ(2u, GetFtpFileListCount(sparse.data()));

  // Put writes the strings and the terminator only: the size field and the
  // spare bytes stay as they were.
  for (const FTPCHAR* first : {lead.c_str(), static_cast<const FTPCHAR*>(nullptr)}) {
    const Names names = first != nullptr ? Names{b.c_str()} : withNulls;
    Bytes expected = built(first, names), put(expected.size(), 0xEE);
    EXPECT_TRUE(PutFtpFileList(put.data(), first, names.data(), static_cast<DWORD>(names.size())));
    std::fill_n(expected.begin(), 4, 0xEE);
    std::fill_n(expected.end() - 2, 2, 0xEE);
    EXPECT_EQ(expected, put);
  }
}

#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Names adding up to more than 4 GiB: the size does not wrap around to a small
// number that a build would then overrun. (Reads 4 GiB: release builds only.)
TEST(FtpFileList, SizeBeyondThirtyTwoBitsIsRefused) {
  const Text huge(size_t{1} << 25, static_cast<FTPCHAR>('x'));  // 64 MiB per name
  const Names names(65, huge.c_str());                          // 65 * 64 MiB > 4 GiB
  EXPECT_EQ(0u, sizeOf(nullptr, names));
  void* block = BuildFtpFileList(nullptr, names.data(), 65);
  EXPECT_EQ(nullptr, block);
  std::free(block);
}
#endif

// ---- Checking blocks that come from outside ----

bool check(const Bytes& data, bool withLead, std::string* error) {
  return utils::transfer::checkFtpFileList(data.data(), data.size(), withLead, error);
}

TEST(FtpFileListCheck, AcceptsWhatBuildMakesAndRefusesEveryTruncation) {
  const Text lead = text("dir"), a = text("a"), b = text("bb");
  for (const bool withLead : {false, true}) {
    const Bytes data = built(withLead ? lead.c_str() : nullptr, {a.c_str(), b.c_str()});
    std::string error;
    EXPECT_TRUE(check(data, withLead, &error)) << error;
    for (size_t cut = 0; cut < data.size(); ++cut) {
      Bytes shorter(data.begin(), data.begin() + cut);
      if (cut >= 4) shorter[0] = static_cast<BYTE>(cut);  // whatever the size field says
      EXPECT_FALSE(check(shorter, withLead, &error)) << "cut at " << cut;
      EXPECT_FALSE(error.empty());
    }
  }
}

TEST(FtpFileListCheck, NamesEachMalformation) {
  const struct {
    Bytes block;
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
