// Fuzz target: the check of file-name list blocks from outside. Whatever the
// input, the check must not read outside it; a block it accepts must be safe for
// the trusting functions and must come out of BuildFtpFileList unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "transfer/ftp_list_check.h"
#include "utils/transfer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte chooses whether a leading string is expected.
  const bool withLead = (data[0] & 1) != 0;
  const std::vector<BYTE> block(data + 1, data + size);
  std::string error;
  if (!utils::transfer::checkFtpFileList(block.data(), block.size(), withLead, &error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  std::vector<BYTE> copy = block;  // aligned for the code units
  FTPCHAR* lead = nullptr;
  FTPCHAR** names = nullptr;
  DWORD count = 0;
  if (!GetFtpFileList(copy.data(), withLead ? &lead : nullptr, &names, &count)) return 0;
  // Counting sees the leading string as a name, and an empty one as the list's end.
  const DWORD expected = (withLead && lead[0] == 0) ? 0 : count + (withLead ? 1 : 0);
  if (GetFtpFileListCount(copy.data()) != expected) std::abort();
  void* rebuilt = BuildFtpFileList(lead, names, count);
  if (rebuilt == nullptr) std::abort();
  const DWORD rebuiltSize = CalcFtpFileListSize(lead, names, count);
  // Everything but the size field and the two spare bytes, which the check does
  // not look at (a block made in place may never have had its size written).
  constexpr size_t kSizeField = 4;
  const auto* rebuiltBytes = static_cast<const BYTE*>(rebuilt);
  if (rebuiltSize != block.size() ||
      std::memcmp(rebuiltBytes + kSizeField, block.data() + kSizeField, block.size() - kSizeField - 2) != 0) {
    std::abort();
  }
  std::free(rebuilt);
  std::free(names);
  return 0;
}
