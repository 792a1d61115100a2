#include "port/linux/xml_writer.h"

#include <fcntl.h>
#include <libxml/xmlsave.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cwchar>

#include "common/utf16.h"
#include "port/linux/xml_quiet.h"
#include "xml/xml_chars.h"

namespace utils::linuxport {
namespace {

constexpr DWORD kFail = 0x80004005;         // E_FAIL
constexpr DWORD kInvalidName = 0x80004005;  // E_FAIL, as the DOM answers a bad name
constexpr DWORD kErrorWriteFault = 29;      // ERROR_WRITE_FAULT
constexpr DWORD kErrorPathNotFound = 3;     // ERROR_PATH_NOT_FOUND

DWORD win32ErrorOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return 5;     // ERROR_ACCESS_DENIED
    case ENOSPC: return 112;  // ERROR_DISK_FULL
    default: return kErrorWriteFault;
  }
}

class LibxmlWriteElement final : public port::DomWriteElement {
 public:
  LibxmlWriteElement(LibxmlWriteDocument& document, xmlNodePtr node) : document_(document), node_(node) {}
  ~LibxmlWriteElement() override {
    if (!attached_) xmlFreeNode(node_);
  }
  LibxmlWriteElement(const LibxmlWriteElement&) = delete;
  LibxmlWriteElement& operator=(const LibxmlWriteElement&) = delete;

  DWORD setAttribute(const wchar_t* name, const wchar_t* value) override {
    if (!xml::isXmlName(name) || value == nullptr || !xml::isXmlText(value)) return kInvalidName;
    const std::string nameUtf8 = reinterpret_cast<const char*>(document_.utf8(name));
    // xmlSetProp replaces the value of an attribute of the same name in place.
    if (xmlSetProp(node_, reinterpret_cast<const xmlChar*>(nameUtf8.c_str()), document_.utf8(value)) == nullptr) {
      throw std::bad_alloc();
    }
    return 0;
  }

  DWORD setText(const wchar_t* text) override {
    if (text == nullptr || !xml::isXmlText(text)) return kFail;
    // A raw text node: its content is escaped when written, not parsed for references.
    xmlNodePtr textNode = xmlNewDocText(node_->doc, document_.utf8(text));
    if (textNode == nullptr) throw std::bad_alloc();
    xmlNodePtr old = node_->children;
    while (old != nullptr) {
      xmlNodePtr following = old->next;
      xmlUnlinkNode(old);
      xmlFreeNode(old);
      old = following;
    }
    xmlAddChild(node_, textNode);
    return 0;
  }

  DWORD appendChild(port::DomWriteElement& child) override {
    auto& element = static_cast<LibxmlWriteElement&>(child);
    if (element.attached_ || &element == this) return kFail;
    xmlAddChild(node_, element.node_);
    element.attached_ = true;
    return 0;
  }

  xmlNodePtr node() { return node_; }
  void markAttached() { attached_ = true; }
  bool attached() const { return attached_; }

 private:
  LibxmlWriteDocument& document_;
  xmlNodePtr node_;
  bool attached_ = false;
};

// A name for the temporary file beside path, unique within this process.
std::string temporaryName(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
}

int closeSave(xmlSaveCtxtPtr save) { return xmlSaveClose(save); }

}  // namespace

std::unique_ptr<LibxmlWriteDocument> LibxmlWriteDocument::create() {
  QuietLibxml quiet;
  xmlDocPtr document = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
  if (document == nullptr) return nullptr;
  return std::unique_ptr<LibxmlWriteDocument>(new LibxmlWriteDocument(document));
}

LibxmlWriteDocument::~LibxmlWriteDocument() { xmlFreeDoc(document_); }

const xmlChar* LibxmlWriteDocument::utf8(const wchar_t* text) {
  scratch_.clear();
  for (; *text != 0; ++text) {
    uint32_t c = static_cast<uint32_t>(*text);
    if (c < 0x80) {
      scratch_.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      scratch_.push_back(static_cast<char>(0xC0 | (c >> 6)));
      scratch_.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      scratch_.push_back(static_cast<char>(0xE0 | (c >> 12)));
      scratch_.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      scratch_.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      scratch_.push_back(static_cast<char>(0xF0 | (c >> 18)));
      scratch_.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      scratch_.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      scratch_.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return reinterpret_cast<const xmlChar*>(scratch_.c_str());
}

DWORD LibxmlWriteDocument::appendProcessingInstruction(const wchar_t* target, const wchar_t* data) {
  if (target == nullptr || !xml::isXmlName(target)) return kFail;
  // The XML declaration is written by the serialiser itself, from the document's
  // version and the output encoding (always UTF-16), so it is only noted here.
  if (std::wcscmp(target, L"xml") == 0) {
    if (hasDeclaration_ || document_->children != nullptr) return kFail;
    hasDeclaration_ = true;
    return 0;
  }
  const std::string targetUtf8 = reinterpret_cast<const char*>(utf8(target));
  xmlNodePtr instruction = xmlNewDocPI(document_, reinterpret_cast<const xmlChar*>(targetUtf8.c_str()),
                                       data != nullptr ? utf8(data) : nullptr);
  if (instruction == nullptr) throw std::bad_alloc();
  xmlAddChild(reinterpret_cast<xmlNodePtr>(document_), instruction);
  return 0;
}

DWORD LibxmlWriteDocument::createElement(const wchar_t* name, std::unique_ptr<port::DomWriteElement>* element) {
  if (!xml::isXmlName(name)) return kInvalidName;
  xmlNodePtr node = xmlNewDocNode(document_, nullptr, utf8(name), nullptr);
  if (node == nullptr) throw std::bad_alloc();
  *element = std::make_unique<LibxmlWriteElement>(*this, node);
  return 0;
}

DWORD LibxmlWriteDocument::appendRoot(port::DomWriteElement& element) {
  auto& root = static_cast<LibxmlWriteElement&>(element);
  if (root.attached() || xmlDocGetRootElement(document_) != nullptr) return kFail;
  xmlDocSetRootElement(document_, root.node());
  root.markAttached();
  return 0;
}

DWORD LibxmlWriteDocument::save(const wchar_t* path) {
  if (path == nullptr || *path == 0) return kErrorPathNotFound;
  QuietLibxml quiet;
  const std::string target = wideToUtf8(path);
  // Written beside the target and renamed over it: a failure leaves the old file.
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = temporaryName(target);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return win32ErrorOf(errno);
  }
  if (fd < 0) return kErrorWriteFault;
  struct stat existing {};
  if (::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) ::fchmod(fd, existing.st_mode & 07777);

  DWORD status = 0;
  xmlSaveCtxtPtr saver = xmlSaveToFd(fd, "UTF-16", 0);
  if (saver == nullptr) {
    status = kErrorWriteFault;
  } else {
    const long written = xmlSaveDoc(saver, document_);
    if (closeSave(saver) < 0 || written < 0) status = kErrorWriteFault;
  }
  if (status == 0 && ::fsync(fd) != 0) status = win32ErrorOf(errno);
  if (::close(fd) != 0 && status == 0) status = win32ErrorOf(errno);
  if (status == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) status = win32ErrorOf(errno);
  if (status != 0) ::unlink(temporary.c_str());
  return status;
}

}  // namespace utils::linuxport
