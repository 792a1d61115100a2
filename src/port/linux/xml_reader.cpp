#include "port/linux/xml_reader.h"

#include <fcntl.h>
#include <libxml/parserInternals.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <new>

#include "port/linux/regular_file.h"
#include "port/linux/xml_quiet.h"
#include "port/linux/xml_schema_sources.h"

namespace utils::linuxport {
namespace {

using port::DomChildKind;
using port::XmlLoadStep;

constexpr DWORD kFail = 0x80004005;  // E_FAIL
constexpr size_t kChunkSize = 64 * 1024;
// Only these options: no entity substitution, no DTD loading or validation, no
// network. They are set on each context, so the process's libxml2 defaults do
// not change how the library parses.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
// Text and attribute values may exceed the input only by entity expansion;
// beyond this much more than the input's own size the document is refused.
constexpr uint64_t kExpansionAllowance = 1 << 20;
constexpr uint64_t kExpansionFactor = 5;

bool isWhiteSpace(const std::string& text) {
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  }
  return true;
}

}  // namespace

XmlLoadStep LibxmlReader::open(const std::string& path, const std::string& schemaPath,
                               std::unique_ptr<LibxmlReader>* reader) {
  QuietLibxml quiet;
  std::unique_ptr<LibxmlReader> opened(new LibxmlReader());
  if (!schemaPath.empty()) {
    const XmlLoadStep step = opened->loadSchema(schemaPath);
    if (step != XmlLoadStep::kNone) return step;
  }
  const XmlLoadStep step = opened->startDocument(path);
  if (step != XmlLoadStep::kNone) return step;
  *reader = std::move(opened);
  return XmlLoadStep::kNone;
}

LibxmlReader::~LibxmlReader() {
  QuietLibxml quiet;
  if (plug_ != nullptr) xmlSchemaSAXUnplug(plug_);
  if (parser_ != nullptr) {
    if (parser_->myDoc != nullptr) xmlFreeDoc(parser_->myDoc);
    xmlFreeParserCtxt(parser_);
  }
  if (validator_ != nullptr) xmlSchemaFreeValidCtxt(validator_);
  if (schema_ != nullptr) xmlSchemaFree(schema_);
  if (schemaParser_ != nullptr) xmlSchemaFreeParserCtxt(schemaParser_);
  if (schemaDocument_ != nullptr) xmlFreeDoc(schemaDocument_);
  if (fd_ >= 0) ::close(fd_);
}

XmlLoadStep LibxmlReader::loadSchema(const std::string& schemaPath) {
  // While the schema is read and compiled, libxml2 loads the schema's own
  // local files and nothing else: no entity, no DTD, nothing from the network.
  XmlFetchGuard guard(&schemaFiles_);
  schemaDocument_ = readRegularXmlFile(schemaPath, kParseOptions, &schemaFiles_);
  if (schemaDocument_ == nullptr) return XmlLoadStep::kLoadSchema;
  // A schema that would pull parts from the network is not a usable schema here.
  if (!collectSchemaFiles(schemaDocument_, kParseOptions, &schemaFiles_)) return XmlLoadStep::kAddSchema;
  schemaParser_ = xmlSchemaNewDocParserCtxt(schemaDocument_);
  if (schemaParser_ == nullptr) return XmlLoadStep::kCreateSchemaCache;
  xmlSchemaSetParserStructuredErrors(schemaParser_, dropXmlError, nullptr);
  schema_ = xmlSchemaParse(schemaParser_);
  if (schema_ == nullptr) return XmlLoadStep::kAddSchema;
  validator_ = xmlSchemaNewValidCtxt(schema_);
  if (validator_ == nullptr) return XmlLoadStep::kCreateSchemaCache;
  xmlSchemaSetValidStructuredErrors(validator_, onValidityError, this);
  return XmlLoadStep::kNone;
}

XmlLoadStep LibxmlReader::startDocument(const std::string& path) {
  struct stat status {};
  int error = 0;
  fd_ = openRegularFile(path.c_str(), &status, &error);
  if (fd_ < 0) return XmlLoadStep::kLoadDocument;
  chunk_.resize(kChunkSize);
  ssize_t count;
  do {
    count = ::read(fd_, chunk_.data(), 4);
  } while (count < 0 && errno == EINTR);
  if (count < 0) return XmlLoadStep::kLoadDocument;
  consumed_ = static_cast<uint64_t>(count);

  xmlSAXVersion(&sax_, 2);
  sax_.startElementNs = onStartElement;
  sax_.endElementNs = onEndElement;
  sax_.startElement = nullptr;
  sax_.endElement = nullptr;
  sax_.characters = onCharacters;
  sax_.ignorableWhitespace = onCharacters;
  sax_.cdataBlock = onCData;
  sax_.comment = onTextBoundary;
  sax_.processingInstruction = onInstruction;
  sax_.reference = nullptr;
  sax_.resolveEntity = refuseEntity;
  sax_.externalSubset = nullptr;
  sax_.serror = dropXmlError;
  sax_.error = nullptr;
  sax_.warning = nullptr;
  sax_.fatalError = nullptr;
  // The first bytes tell the encoding (byte order mark or the declaration's form).
  parser_ = xmlCreatePushParserCtxt(&sax_, nullptr, chunk_.data(), static_cast<int>(count), path.c_str());
  if (parser_ == nullptr) return XmlLoadStep::kCreateDocument;
  xmlCtxtUseOptions(parser_, kParseOptions);
  parser_->_private = this;
  if (validator_ != nullptr) {
    plug_ = xmlSchemaSAXPlug(validator_, &parser_->sax, &parser_->userData);
    if (plug_ == nullptr) return XmlLoadStep::kCreateSchemaCache;
  }

  // Read up to the root element's start.
  for (;;) {
    while (next_ < events_.size()) {
      const Event& event = events_[next_++];
      if (event.kind == Kind::kStart) {
        level_ = 1;
        enteredDepth_ = 0;
        enteredEvent_ = next_ - 1;
        return XmlLoadStep::kNone;
      }
    }
    if (!parseMore()) return XmlLoadStep::kLoadDocument;
  }
}

bool LibxmlReader::failed() const {
  return readFailed_ || tooLarge_ || outOfMemory_ || !parser_->wellFormed || !parser_->nsWellFormed;
}

bool LibxmlReader::parseMore() {
  if (inputDone_ || failed()) return false;
  events_.clear();
  next_ = 0;
  chars_.clear();
  attributes_.clear();
  ssize_t count;
  do {
    count = ::read(fd_, chunk_.data(), chunk_.size());
  } while (count < 0 && errno == EINTR);
  if (count < 0) {
    readFailed_ = true;
    return false;
  }
  inputDone_ = count == 0;
  consumed_ += static_cast<uint64_t>(count);
  {
    QuietLibxml quiet;
    XmlFetchGuard guard(&schemaFiles_);  // a document loads nothing from outside
    xmlParseChunk(parser_, chunk_.data(), static_cast<int>(count), inputDone_ ? 1 : 0);
  }
  // Reported here, once the parser's C frames are left behind.
  if (outOfMemory_) throw std::bad_alloc();
  return !failed();
}

bool LibxmlReader::nextEvent(const Event** event) {
  while (next_ >= events_.size()) {
    if (!parseMore()) return false;
  }
  *event = &events_[next_++];
  return true;
}

const LibxmlReader::Event* LibxmlReader::entered(int depth) const {
  return depth == enteredDepth_ && enteredEvent_ < events_.size() ? &events_[enteredEvent_] : nullptr;
}

DWORD LibxmlReader::baseName(int depth, const wchar_t** name) {
  const Event* event = entered(depth);
  if (event == nullptr) return kFail;
  *name = chars_.data() + event->name;
  return 0;
}

DWORD LibxmlReader::attributeCount(int depth, LONG* count) {
  const Event* event = entered(depth);
  if (event == nullptr) return kFail;
  *count = static_cast<LONG>(event->attributeCount);
  return 0;
}

DWORD LibxmlReader::attribute(int depth, LONG index, const wchar_t** name, const wchar_t** value) {
  const Event* event = entered(depth);
  if (event == nullptr || index < 0 || static_cast<size_t>(index) >= event->attributeCount) return kFail;
  const AttributeText& attribute = attributes_[event->firstAttribute + index];
  *name = chars_.data() + attribute.name;
  *value = chars_.data() + attribute.value;
  return 0;
}

DWORD LibxmlReader::nextChild(int depth, DomChildKind* kind, const wchar_t** text) {
  enteredDepth_ = -1;
  if (depth < 0 || level_ < depth + 1) return kFail;
  for (;;) {
    const Event* event = nullptr;
    if (!nextEvent(&event)) return kFail;
    if (level_ > depth + 1) {  // still inside a previous child: skip it
      if (event->kind == Kind::kStart) ++level_;
      if (event->kind == Kind::kEnd) --level_;
      continue;
    }
    switch (event->kind) {
      case Kind::kStart:
        ++level_;
        enteredDepth_ = depth + 1;
        enteredEvent_ = next_ - 1;
        *kind = DomChildKind::kElement;
        return 0;
      case Kind::kEnd:
        --level_;
        *kind = DomChildKind::kEnd;
        return 0;
      case Kind::kText:
        *kind = DomChildKind::kText;
        *text = chars_.data() + event->name;
        return 0;
    }
  }
}

XmlLoadStep LibxmlReader::finish() {
  recording_ = false;
  enteredDepth_ = -1;
  while (parseMore()) {
  }
  if (failed() || !inputDone_) return XmlLoadStep::kLoadDocument;
  if (invalid_ || (validator_ != nullptr && xmlSchemaIsValid(validator_) == 0)) return XmlLoadStep::kValidate;
  return XmlLoadStep::kNone;
}

wchar_t* LibxmlReader::WideBuffer::extend(size_t count) {
  if (size_ + count > capacity_) {
    const size_t capacity = std::max(size_ + count, 2 * capacity_ + 1024);
    std::unique_ptr<wchar_t[]> grown(new wchar_t[capacity]);
    if (size_ != 0) std::wmemcpy(grown.get(), data_.get(), size_);
    data_ = std::move(grown);
    capacity_ = capacity;
  }
  return data_.get() + size_;
}

size_t LibxmlReader::appendWide(const unsigned char* utf8, size_t length) {
  // The parser hands out well-formed UTF-8; anything else becomes U+FFFD.
  const size_t start = chars_.size();
  wchar_t* const first = chars_.extend(length + 1);
  wchar_t* out = first;
  const unsigned char* end = utf8 + length;
  while (utf8 < end) {
    // Runs of ASCII, the common case, in a loop the compiler can widen.
    while (utf8 < end && *utf8 < 0x80) *out++ = *utf8++;
    if (utf8 >= end) break;
    const unsigned char lead = *utf8;
    const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (extra < 0 || end - utf8 <= extra) {
      *out++ = 0xFFFD;
      ++utf8;
      continue;
    }
    uint32_t code = lead & (0x3F >> extra);
    for (int i = 1; i <= extra; ++i) code = (code << 6) | (utf8[i] & 0x3F);
    *out++ = static_cast<wchar_t>(code);
    utf8 += extra + 1;
  }
  *out++ = 0;
  chars_.setSize(start + static_cast<size_t>(out - first));
  return start;
}

void LibxmlReader::flushText() {
  if (pendingText_.empty()) return;
  // Text of white space only is not a text node: white space is not preserved.
  if (recording_ && !isWhiteSpace(pendingText_)) {
    const size_t text = appendWide(reinterpret_cast<const unsigned char*>(pendingText_.data()), pendingText_.size());
    events_.push_back(Event{Kind::kText, text, 0, 0});
  }
  pendingText_.clear();
}

void LibxmlReader::startElement(const unsigned char* localName, const unsigned char* uri, int namespaceCount,
                                const unsigned char** namespaces, int attributeCount,
                                const unsigned char** attributes) {
  flushText();
  if (!rootSeen_) {
    rootSeen_ = true;
    // The schema is registered for elements in no namespace only: a document
    // whose root element is in a namespace has no schema, and is not valid.
    if (validator_ != nullptr && uri != nullptr) invalid_ = true;
  }
  if (!recording_) return;
  Event event{Kind::kStart, appendWide(localName, std::strlen(reinterpret_cast<const char*>(localName))),
              attributes_.size(), static_cast<size_t>(namespaceCount + attributeCount)};
  // Namespace declarations first ("xmlns" or the prefix as the name, the URI as
  // the value), then the attributes, each in document order.
  static const unsigned char kXmlns[] = "xmlns";
  for (int i = 0; i < namespaceCount; ++i) {
    const unsigned char* prefix = namespaces[2 * i] != nullptr ? namespaces[2 * i] : kXmlns;
    const unsigned char* href = namespaces[2 * i + 1] != nullptr ? namespaces[2 * i + 1] : kXmlns + 5;
    const size_t name = appendWide(prefix, std::strlen(reinterpret_cast<const char*>(prefix)));
    const size_t value = appendWide(href, std::strlen(reinterpret_cast<const char*>(href)));
    attributes_.push_back(AttributeText{name, value});
  }
  for (int i = 0; i < attributeCount; ++i) {
    const unsigned char* local = attributes[5 * i];
    const unsigned char* value = attributes[5 * i + 3];
    const size_t length = static_cast<size_t>(attributes[5 * i + 4] - value);
    const size_t name = appendWide(local, std::strlen(reinterpret_cast<const char*>(local)));
    size_t text;
    if (std::memchr(value, '&', length) != nullptr) {
      // References the parser left in place (it does not substitute entities).
      // Freed however this ends, running out of memory while copying it included.
      const std::unique_ptr<xmlChar, void (*)(xmlChar*)> expanded(
          xmlStringLenDecodeEntities(parser_, value, static_cast<int>(length), XML_SUBSTITUTE_REF, 0, 0, 0),
          [](xmlChar* held) { xmlFree(held); });
      if (expanded == nullptr) {
        readFailed_ = true;  // no memory for the value: the load fails
        stopParser();
        text = appendWide(value, 0);
      } else {
        const size_t expandedLength = std::strlen(reinterpret_cast<const char*>(expanded.get()));
        text = appendWide(expanded.get(), deliver(expandedLength) ? expandedLength : 0);
      }
    } else {
      text = appendWide(value, length);
    }
    attributes_.push_back(AttributeText{name, text});
  }
  events_.push_back(event);
}

LibxmlReader* LibxmlReader::self(void* context) {
  return static_cast<LibxmlReader*>(static_cast<xmlParserCtxtPtr>(context)->_private);
}

void LibxmlReader::stopParser() { xmlStopParser(parser_); }

bool LibxmlReader::deliver(size_t characters) {
  delivered_ += characters;
  if (delivered_ <= kExpansionAllowance + kExpansionFactor * consumed_) return true;
  tooLarge_ = true;
  stopParser();
  return false;
}

// Runs a callback's body so that no exception crosses libxml2's C frames:
// running out of memory stops the parser, and parseMore reports it.
template <typename Body>
void LibxmlReader::guarded(void* context, Body body) {
  LibxmlReader* reader = self(context);
  try {
    body(reader);
  } catch (...) {
    reader->outOfMemory_ = true;
    reader->stopParser();
  }
}

void LibxmlReader::onStartElement(void* context, const unsigned char* localName, const unsigned char*,
                                  const unsigned char* uri, int namespaceCount, const unsigned char** namespaces,
                                  int attributeCount, int, const unsigned char** attributes) {
  guarded(context, [&](LibxmlReader* reader) {
    reader->startElement(localName, uri, namespaceCount, namespaces, attributeCount, attributes);
  });
}

void LibxmlReader::onEndElement(void* context, const unsigned char*, const unsigned char*, const unsigned char*) {
  guarded(context, [](LibxmlReader* reader) {
    reader->flushText();
    if (reader->recording_) reader->events_.push_back(Event{Kind::kEnd, 0, 0, 0});
  });
}

void LibxmlReader::onCharacters(void* context, const unsigned char* text, int length) {
  guarded(context, [&](LibxmlReader* reader) {
    if (!reader->deliver(static_cast<size_t>(length))) return;
    if (reader->recording_) reader->pendingText_.append(reinterpret_cast<const char*>(text), length);
  });
}

void LibxmlReader::onTextBoundary(void* context, const unsigned char*) {
  guarded(context, [](LibxmlReader* reader) { reader->flushText(); });
}

void LibxmlReader::onCData(void* context, const unsigned char*, int) {
  guarded(context, [](LibxmlReader* reader) { reader->flushText(); });
}

void LibxmlReader::onInstruction(void* context, const unsigned char*, const unsigned char*) {
  guarded(context, [](LibxmlReader* reader) { reader->flushText(); });
}

xmlParserInputPtr LibxmlReader::refuseEntity(void*, const unsigned char*, const unsigned char*) { return nullptr; }

void LibxmlReader::onValidityError(void* context, xmlErrorPtr error) {
  if (error != nullptr && error->level >= XML_ERR_ERROR) static_cast<LibxmlReader*>(context)->invalid_ = true;
}

}  // namespace utils::linuxport
