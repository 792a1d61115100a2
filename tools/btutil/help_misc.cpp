// The help texts of btutil addr, decode, xml and the self-demonstration.
#include "help_topics.h"

namespace utils::btutil {
namespace {

constexpr std::string_view kAddr = R"(Usage: btutil addr ADDRESS [--json]

Prints a Bluetooth device address in its forms: the text form, the 64-bit BtAddr
value and the six BdAddr bytes (most significant first). With --json as one JSON
document: {"text", "btAddr", "value" (the BtAddr as a number), "bdAddr"}.

ADDRESS is either
  the text form    00:1a:7d:da:71:13, 00-1A-7D-DA-71-13 or 001a7dda7113
  the 64-bit value 0x1A7DDA7113, or decimal such as 4660 (at most 48 bits)
Twelve decimal digits alone could be either form and are refused: add the
separators for the text form or write the value with 0x.

Example:
  btutil addr 00:1a:7d:da:71:13
)";

constexpr std::string_view kDecode = R"(Usage: btutil decode VALUE [TYPE]

Prints the text that the library's value decoder (XAD_Decode) gives for a 32-bit
VALUE (decimal or 0x...) of the named TYPE.

Example:
  btutil decode 0x1234 DWORD
)";

constexpr std::string_view kXml = R"(Usage:
  btutil xml check FILE [--schema XSD]
                             load FILE (validating it against XSD) and print the result
  btutil xml tree FILE       print FILE's element tree: names, attributes, texts
  btutil xml convert IN OUT  load IN and save it as OUT (UTF-16 with a byte order mark)

check prints the result code's name (OBJECT_ERROR_NONE, OBJECT_ERROR_LOAD_DOCUMENT,
...); a malformed or invalid document or schema exits with 2, a file that cannot
be read with 3. convert exits with 2 when IN is malformed, with 3 when IN cannot
be read or OUT cannot be written (OUT then stays as it was).

Examples:
  btutil xml check settings.xml --schema settings.xsd
  btutil xml tree settings.xml
  btutil xml convert settings.xml settings-utf16.xml
)";

constexpr std::string_view kDemo = R"(Usage: btutil [demo]

Runs a short self-demonstration on built-in samples, with real calls: the debug
settings as stored under HKLM\Software\vorlane and as the library reads them, a
sample address in its forms and a sample value through the value decoder. It
changes nothing.
)";

constexpr HelpTopic kAddrTopics[] = {{"addr", kAddr}};
constexpr HelpTopic kDecodeTopics[] = {{"decode", kDecode}};
constexpr HelpTopic kXmlTopics[] = {{"xml", kXml}, {"xml check", kXml}, {"xml tree", kXml}, {"xml convert", kXml}};
constexpr HelpTopic kDemoTopics[] = {{"demo", kDemo}};

}  // namespace

std::span<const HelpTopic> addrHelp() { return kAddrTopics; }
std::span<const HelpTopic> decodeHelp() { return kDecodeTopics; }
std::span<const HelpTopic> xmlHelp() { return kXmlTopics; }
std::span<const HelpTopic> demoHelp() { return kDemoTopics; }

}  // namespace utils::btutil
