// The reading half of the libxml2 DOM port: a push parser fed from the file in
// chunks, whose SAX events become a short queue that the element walk pulls
// from, with streaming XML Schema validation plugged into the same events. No
// libxml2 tree is built, so a load holds the element tree and one chunk's worth
// of events, not a second copy of the document.
#pragma once

#include <libxml/parser.h>
#include <libxml/xmlschemas.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "port/linux/xml_fetch_guard.h"
#include "port/xml_dom_port.h"

namespace utils::linuxport {

class LibxmlReader final : public port::DomReader {
 public:
  // Reads the schema (when schemaPath is not empty) and the file up to its root
  // element. kNone and *reader at the root, or the step that failed.
  static port::XmlLoadStep open(const std::string& path, const std::string& schemaPath,
                                std::unique_ptr<LibxmlReader>* reader);
  ~LibxmlReader() override;
  LibxmlReader(const LibxmlReader&) = delete;
  LibxmlReader& operator=(const LibxmlReader&) = delete;

  DWORD baseName(int depth, const wchar_t** name) override;
  DWORD attributeCount(int depth, LONG* count) override;
  DWORD attribute(int depth, LONG index, const wchar_t** name, const wchar_t** value) override;
  DWORD nextChild(int depth, port::DomChildKind* kind, const wchar_t** text) override;
  port::XmlLoadStep finish() override;

 private:
  enum class Kind : unsigned char { kStart, kEnd, kText };
  // Offsets into chars_ (name, text) and attributes_ (first pair of the element).
  struct Event {
    Kind kind;
    size_t name;
    size_t firstAttribute;
    size_t attributeCount;
  };
  struct AttributeText {
    size_t name;
    size_t value;
  };

  LibxmlReader() = default;
  port::XmlLoadStep loadSchema(const std::string& schemaPath);
  port::XmlLoadStep startDocument(const std::string& path);
  bool parseMore();
  bool nextEvent(const Event** event);
  bool failed() const;
  const Event* entered(int depth) const;

  // Character data and names, converted from UTF-8 and NUL-terminated.
  size_t appendWide(const unsigned char* utf8, size_t length);
  void flushText();
  void startElement(const unsigned char* localName, const unsigned char* uri, int namespaceCount,
                    const unsigned char** namespaces, int attributeCount, const unsigned char** attributes);
  // Counts characters handed out against the input read; false (and the parser
  // stopped) once they exceed what the input can account for.
  bool deliver(size_t characters);
  void stopParser();
  template <typename Body>
  static void guarded(void* context, Body body);

  static LibxmlReader* self(void* context);
  static void onStartElement(void* context, const unsigned char* localName, const unsigned char* prefix,
                             const unsigned char* uri, int namespaceCount, const unsigned char** namespaces,
                             int attributeCount, int defaultedCount, const unsigned char** attributes);
  static void onEndElement(void* context, const unsigned char* localName, const unsigned char* prefix,
                           const unsigned char* uri);
  static void onCharacters(void* context, const unsigned char* text, int length);
  static void onTextBoundary(void* context, const unsigned char* value);
  static void onCData(void* context, const unsigned char* value, int length);
  static void onInstruction(void* context, const unsigned char* target, const unsigned char* data);
  static xmlParserInputPtr refuseEntity(void* context, const unsigned char* publicId, const unsigned char* systemId);
  static void onValidityError(void* context, xmlErrorPtr error);

  int fd_ = -1;
  xmlSAXHandler sax_{};
  xmlParserCtxtPtr parser_ = nullptr;
  xmlDocPtr schemaDocument_ = nullptr;
  xmlSchemaParserCtxtPtr schemaParser_ = nullptr;
  xmlSchemaPtr schema_ = nullptr;
  xmlSchemaValidCtxtPtr validator_ = nullptr;
  xmlSchemaSAXPlugStruct* plug_ = nullptr;

  std::vector<char> chunk_;
  bool inputDone_ = false;
  bool readFailed_ = false;
  bool invalid_ = false;
  bool recording_ = true;
  bool outOfMemory_ = false;  // a callback ran out of memory: reported once the parser returns
  bool tooLarge_ = false;     // entities expanded to more text than the input allows
  bool rootSeen_ = false;
  uint64_t consumed_ = 0;     // bytes of input given to the parser
  uint64_t delivered_ = 0;    // bytes of text and attribute values handed out
  AllowedFiles schemaFiles_;  // what the schema compiler may load

  std::vector<Event> events_;
  size_t next_ = 0;
  // Converted names and texts of the events queued now: a buffer that grows
  // without zero-filling, reused for every chunk.
  class WideBuffer {
   public:
    wchar_t* data() { return data_.get(); }
    size_t size() const { return size_; }
    void clear() { size_ = 0; }
    // Room for count more characters after size(); pointers into it may move.
    wchar_t* extend(size_t count);
    void setSize(size_t size) { size_ = size; }

   private:
    std::unique_ptr<wchar_t[]> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
  };
  WideBuffer chars_;
  std::vector<AttributeText> attributes_;
  std::string pendingText_;

  int level_ = 0;          // elements entered and not yet ended, as the walk sees it
  int enteredDepth_ = -1;  // depth of the element whose start was read last, until the next call
  size_t enteredEvent_ = 0;
};

}  // namespace utils::linuxport
