#include "json_output.h"

#include "common/utf16.h"
#include "numbers.h"

namespace utils::btutil {

void printJson(Console& console, const Json& document) {
  // Texts come from UTF-8 conversions; a stray byte is replaced rather than thrown over.
  console.out << document.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

Json regValueJson(const RegValue& value) {
  Json data;
  const size_t size = value.data.size();
  if ((value.type == REG_DWORD && size == 4) || (value.type == REG_QWORD && size == 8)) {
    data = littleEndianValue(value.data);
  } else if (value.type == REG_DWORD_BIG_ENDIAN && size == 4) {
    data = uint64_t{value.data[0]} << 24 | uint64_t{value.data[1]} << 16 | uint64_t{value.data[2]} << 8 |
           uint64_t{value.data[3]};
  } else if (value.type == REG_SZ || value.type == REG_EXPAND_SZ) {
    data = wideToUtf8(stringFromData(value.data));
  } else if (value.type == REG_MULTI_SZ) {
    data = Json::array();
    for (const auto& item : multiStringsFromData(value.data)) data.push_back(wideToUtf8(item));
  } else {
    data = hexBytes(value.data);
  }
  return Json{{"name", wideToUtf8(value.name)}, {"type", queryTypeName(value.type)}, {"data", std::move(data)}};
}

}  // namespace utils::btutil
