#include "json_output.h"

namespace utils::btutil {

void printJson(Console& console, const Json& document) {
  // Texts come from UTF-8 conversions; a stray byte is replaced rather than thrown over.
  console.out << document.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

}  // namespace utils::btutil
