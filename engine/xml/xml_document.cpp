// The XML document layer on pugixml: the document object, element handles,
// the list, map and tree writers and the readers. The only file of the engine
// that sees the DOM library.
#include "engine/xml/xml_document.h"

#include <algorithm>
#include <cstdint>
#include <pugixml.hpp>
#include <string_view>
#include <unordered_map>

#include "engine/base/error_sites.h"
#include "engine/base/number_text.h"
#include "platform/encoding.h"
#include "platform/file_handle.h"
#include "platform/files.h"
#include "platform/output_target.h"
#include "platform/replacement_file.h"
#include "platform/system_error.h"

namespace torquelin {

// Converts between the opaque handles of the header and the library's nodes.
struct XmlAccess {
  static pugi::xml_node Node(XmlElement element) {
    return pugi::xml_node(static_cast<pugi::xml_node_struct*>(element.node_));
  }
  static XmlElement Wrap(pugi::xml_node node) { return XmlElement(node.internal_object()); }
  // The node behind a handle; a null handle is a failure, as a call through a
  // null reference is.
  static pugi::xml_node Require(XmlElement element) {
    if (element.IsNull()) throw XmlFailure();
    return Node(element);
  }
};

namespace {

std::string Utf8(const std::u16string& text) { return platform::ToUtf8(text); }

// Values go through the reversible mapping of platform/encoding.h, so every
// name gives well-formed XML 1.0 and reads back unchanged.
void SetAttributeValue(pugi::xml_node node, const char* name, std::u16string_view text) {
  const std::string value = platform::ToXmlUtf8(text);
  pugi::xml_attribute attribute = node.attribute(name);
  if (!attribute) attribute = node.append_attribute(name);
  if (!attribute || !attribute.set_value(value.data(), value.size())) {
    throw XmlFailure(u"Unable to set an attribute");
  }
}

pugi::xml_node AddChild(pugi::xml_node parent, const char* name) {
  pugi::xml_node child = parent.append_child(name);
  if (!child) throw XmlFailure(u"Unable to create an element");
  return child;
}

std::u16string RequiredAttribute(pugi::xml_node node, const char* name) {
  const pugi::xml_attribute attribute = node.attribute(name);
  if (!attribute) throw XmlFailure();
  return platform::FromXmlUtf8(attribute.value());
}

// Calls f for every child element named `name`, in document order. Only
// elements count: a processing instruction of that name is not an item.
template <typename F>
void ForEachChildElement(pugi::xml_node parent, const char* name, F f) {
  for (pugi::xml_node child = parent.child(name); child; child = child.next_sibling(name)) {
    if (child.type() == pugi::node_element) f(child);
  }
}

// Reads a number the way _wtoi does: leading blanks, an optional sign, then
// digits up to the first non-digit; 0 when there are none; a value beyond the
// 32-bit signed range saturates at INT_MAX or INT_MIN. The result's bits are
// the word.
uint32_t WordFromDecimal(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  // One past INT_MAX is enough to know the value saturates either way.
  constexpr int64_t kCap = int64_t{INT32_MAX} + 1;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = std::min(kCap, value * 10 + (text[i] - u'0'));
  }
  const int64_t signedValue = negative ? -value : std::min<int64_t>(value, INT32_MAX);
  return static_cast<uint32_t>(static_cast<int32_t>(signedValue));
}

// Finds or makes the fNode of a path below a list element. Children are
// found by the exact text of the component, never by building a query from
// it, so any name (quotes included) gives the same tree. Every node below the
// list is made here, so the map knows all of them and a lookup costs one hash
// probe however many siblings there are.
class PathTreeBuilder {
 public:
  explicit PathTreeBuilder(pugi::xml_node list) : list_(list) {}

  pugi::xml_node NodeFor(std::u16string_view path) {
    pugi::xml_node current = list_;
    size_t start = 0;
    while (start <= path.size()) {
      size_t end = path.find(u'\\', start);
      if (end == std::u16string_view::npos) end = path.size();
      if (end > start) current = Child(current, path.substr(start, end - start));
      start = end + 1;
    }
    return current;
  }

 private:
  struct Key {
    pugi::xml_node_struct* parent;
    std::u16string name;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key& key) const {
      return std::hash<std::u16string>()(key.name) ^
             (std::hash<const void*>()(key.parent) * 0x9E3779B97F4A7C15ull);
    }
  };

  pugi::xml_node Child(pugi::xml_node parent, std::u16string_view component) {
    auto [it, inserted] =
        children_.try_emplace(Key{parent.internal_object(), std::u16string(component)}, nullptr);
    if (inserted) {
      pugi::xml_node node = AddChild(parent, "fNode");
      SetAttributeValue(node, "path", component);
      it->second = node.internal_object();
    }
    return pugi::xml_node(it->second);
  }

  pugi::xml_node list_;
  std::unordered_map<Key, pugi::xml_node_struct*, KeyHash> children_;
};

// Streams the serialised document into a file through a large buffer, so a
// big document is neither held twice in memory nor written in many small
// pieces. The first failure is kept and later output dropped.
class FileWriter : public pugi::xml_writer {
 public:
  explicit FileWriter(const platform::FileHandle& file) : file_(file) {
    buffer_.reserve(kCapacity);
  }

  void write(const void* data, size_t size) override {
    if (buffer_.size() + size > kCapacity) (void)Flush();  // a failure stays in failure_
    if (size >= kCapacity) {
      Put(data, size);
    } else {
      buffer_.append(static_cast<const char*>(data), size);
    }
  }

  // Writes what is buffered; gives the first failure, if any.
  platform::Status Flush() {
    Put(buffer_.data(), buffer_.size());
    buffer_.clear();
    return failure_;
  }

 private:
  static constexpr size_t kCapacity = 1 << 20;

  void Put(const void* data, size_t size) {
    if (!failure_ || size == 0) return;
    failure_ = file_.Write(data, size);
  }

  const platform::FileHandle& file_;
  platform::Status failure_;
  std::string buffer_;
};

// The system's words for an error code.
std::u16string Reason(uint32_t code) { return platform::FromUtf8(platform::ErrorCodeText(code)); }

[[noreturn]] void ThrowSaveFailure(const std::u16string& path, uint32_t code) {
  Raise(site::kXmlSave, path + u": " + Reason(code), code);
}

// Has `write` fill the file; gives the first failed write, if any.
template <typename Write>
platform::Status StreamInto(const platform::FileHandle& file, Write write) {
  FileWriter out(file);
  write(out);
  return out.Flush();
}

// Has `write` fill a temporary file beside `target`, forces the file to the
// device and renames it over `target`. On failure, or when `write` throws,
// the temporary file is removed and the previous file stays as it was.
// Failures name `shownPath`, the path as the user gave it.
template <typename Write>
void ReplaceFileWith(const std::u16string& target, const std::u16string& shownPath, Write write) {
  platform::ReplacementFile file;
  platform::Status done = file.Create(target);
  if (done) done = StreamInto(file.file(), write);
  if (done) done = file.file().Sync();
  if (done) done = file.Commit();
  if (!done) ThrowSaveFailure(shownPath, done.error());
}

// A character device or FIFO is written into as it is (a report on
// /dev/stdout): there is nothing to replace, and nothing to rename over it.
template <typename Write>
void WriteStraightInto(const std::u16string& target, const std::u16string& shownPath, Write write) {
  const platform::Result<platform::FileHandle> device = platform::OpenDeviceForWriting(target);
  if (!device) ThrowSaveFailure(shownPath, device.error());
  const platform::Status written = StreamInto(*device, write);
  if (!written) ThrowSaveFailure(shownPath, written.error());
}

// The whole file, or the failure that kept it from being read.
platform::Status ReadWholeFile(const std::u16string& path, std::string& bytes) {
  const platform::Result<platform::FileHandle> file = platform::OpenForReading(path);
  if (!file) return platform::Failure{file.error()};
  const platform::Result<int64_t> size = file->Size();
  bytes.resize(size && *size > 0 ? static_cast<size_t>(*size) : 0);
  size_t done = 0;
  platform::Status read;
  while (true) {
    if (done == bytes.size()) bytes.resize(bytes.size() + 65536);
    const platform::Result<uint64_t> got = file->Read(bytes.data() + done, bytes.size() - done);
    if (!got) read = platform::Failure{got.error()};
    if (!got || *got == 0) break;
    done += static_cast<size_t>(*got);
  }
  bytes.resize(done);
  return read;
}

}  // namespace

// ---- XmlElement --------------------------------------------------------------

void XmlElement::SetAttribute(const std::u16string& name, const std::u16string& value) {
  SetAttributeValue(XmlAccess::Require(*this), Utf8(name).c_str(), value);
}

std::u16string XmlElement::GetAttribute(const std::u16string& name) const {
  return RequiredAttribute(XmlAccess::Require(*this), Utf8(name).c_str());
}

bool XmlElement::HasAttribute(const std::u16string& name) const {
  return static_cast<bool>(XmlAccess::Require(*this).attribute(Utf8(name).c_str()));
}

XmlElement XmlElement::FindChild(const std::u16string& name) const {
  const std::string wanted = Utf8(name);
  pugi::xml_node child = XmlAccess::Require(*this).child(wanted.c_str());
  while (child && child.type() != pugi::node_element) child = child.next_sibling(wanted.c_str());
  return XmlAccess::Wrap(child);
}

void XmlElement::AppendChild(XmlElement child) {
  if (!XmlAccess::Require(*this).append_move(XmlAccess::Require(child))) {
    throw XmlFailure(u"Unable to append an element");
  }
}

// ---- XmlDocument -------------------------------------------------------------

struct XmlDocument::Impl {
  pugi::xml_document document;
  pugi::xml_node root;  // the document element; null when a load failed
  std::string source;   // the loaded bytes; parsed in place, so kept alive
  std::u16string loadFailure;
  uint32_t loadFailureCode = 0;
  void Reset() {
    document.reset();
    root = pugi::xml_node();
    source.clear();
    loadFailure.clear();
    loadFailureCode = 0;
  }
};

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) {}
XmlDocument::~XmlDocument() = default;

void XmlDocument::CreateNewWithProduct(const char16_t* name, const char16_t* version) {
  CreateNew();
  XmlElement product = CreateElement(name);
  product.SetAttribute(u"Version", version);
  documentElement().AppendChild(product);
  mainElement = product;
}

void XmlDocument::CreateNew() {
  try {
    impl_->Reset();
    mainElement = XmlElement();
    const pugi::xml_parse_result result =
        impl_->document.load_string("<xml version=\"1.0\"></xml>");
    if (!result) throw XmlFailure(platform::FromUtf8(result.description()));
    impl_->root = impl_->document.document_element();
  } catch (const XmlFailure& failure) {
    Raise(site::kXmlCreate, failure.description);
  }
}

void XmlDocument::Open(const std::u16string& path) {
  try {
    impl_->Reset();
    mainElement = XmlElement();
    const platform::Status read = ReadWholeFile(path, impl_->source);
    if (!read) {
      impl_->Reset();
      impl_->loadFailure = path + u": " + Reason(read.error());
      impl_->loadFailureCode = read.error();
      return;
    }
    const pugi::xml_parse_result result = impl_->document.load_buffer_inplace(
        impl_->source.data(), impl_->source.size(), pugi::parse_default, pugi::encoding_auto);
    if (result.status == pugi::status_out_of_memory) {
      throw XmlFailure(platform::FromUtf8(result.description()));
    }
    // A partial tree from a broken file is no document at all.
    if (result) {
      impl_->root = impl_->document.document_element();
    } else {
      impl_->Reset();
      impl_->loadFailure = path + u": " + platform::FromUtf8(result.description()) +
                           u" at offset " + DecimalText(static_cast<int64_t>(result.offset));
    }
  } catch (const XmlFailure&) {
    Raise(site::kXmlOpen);
  }
}

XmlElement XmlDocument::CreateElement(const std::u16string& name) {
  // The library has no detached nodes: a new element waits at the top level
  // of the document until it is appended somewhere. Save never writes one
  // that stayed there.
  return XmlAccess::Wrap(AddChild(impl_->document, Utf8(name).c_str()));
}

XmlElement XmlDocument::documentElement() const { return XmlAccess::Wrap(impl_->root); }

const std::u16string& XmlDocument::LoadFailure() const { return impl_->loadFailure; }

uint32_t XmlDocument::LoadFailureCode() const { return impl_->loadFailureCode; }

void XmlDocument::Save(const std::u16string& path) {
  const pugi::xml_node document = impl_->document;
  const pugi::xml_node root = impl_->root;
  const auto serialise = [&](pugi::xml_writer& out) {
    bool declared = false;
    for (pugi::xml_node node : document.children()) {
      if (node.type() == pugi::node_declaration) declared = true;
    }
    constexpr std::string_view kDeclaration = "<?xml version=\"1.0\"?>\n";
    if (!declared) out.write(kDeclaration.data(), kDeclaration.size());
    for (pugi::xml_node node : document.children()) {
      if (node.type() == pugi::node_element && node != root) continue;
      node.print(out, "  ", pugi::format_default, pugi::encoding_utf8);
    }
  };
  // A link at the path stays; what it names is replaced or written into.
  const std::u16string target = platform::ResolveFinalLink(path);
  switch (platform::KindOfNode(target)) {
    case platform::NodeKind::Missing:
    case platform::NodeKind::RegularFile:
      return ReplaceFileWith(target, path, serialise);
    case platform::NodeKind::CharacterDevice:
    case platform::NodeKind::Fifo:
      return WriteStraightInto(target, path, serialise);
    case platform::NodeKind::Directory:
    case platform::NodeKind::Other:
      break;
  }
  Raise(site::kOutputNotAFile, path);
}

XmlElement XmlDocument::NewList(const std::u16string& listName, XmlElement parent) {
  XmlAccess::Require(parent.IsNull() ? mainElement : parent);
  return CreateElement(listName);
}

XmlElement XmlDocument::WriteList(const std::u16string& listName, const PathList& items,
                                  const std::u16string& itemName,
                                  const std::u16string& attributeName, XmlElement parent) {
  XmlElement list = NewList(listName, parent);
  const pugi::xml_node node = XmlAccess::Node(list);
  const std::string item = Utf8(itemName);
  const std::string attribute = Utf8(attributeName);
  for (const std::u16string& text : items) {
    SetAttributeValue(AddChild(node, item.c_str()), attribute.c_str(), text);
  }
  (parent.IsNull() ? mainElement : parent).AppendChild(list);
  return list;
}

void XmlDocument::WriteNameValueList(const std::u16string& listName, const TextMap& entries,
                                     const std::u16string& keyAttribute,
                                     const std::u16string& valueAttribute,
                                     const std::u16string& itemName) {
  XmlElement list = NewList(listName, {});
  const pugi::xml_node node = XmlAccess::Node(list);
  const std::string item = Utf8(itemName);
  const std::string key = Utf8(keyAttribute);
  const std::string value = Utf8(valueAttribute);
  for (const auto& [k, v] : entries) {
    const pugi::xml_node child = AddChild(node, item.c_str());
    SetAttributeValue(child, key.c_str(), k);
    SetAttributeValue(child, value.c_str(), v);
  }
  mainElement.AppendChild(list);
}

void XmlDocument::WriteAttributeList(const std::u16string& listName, const AttributeMap& words) {
  XmlElement list = NewList(listName, {});
  const pugi::xml_node node = XmlAccess::Node(list);
  for (const auto& [path, word] : words) {
    const pugi::xml_node child = AddChild(node, "fNode");
    SetAttributeValue(child, "path", path);
    SetAttributeValue(child, "attr", DecimalText(static_cast<int32_t>(word)));
  }
  mainElement.AppendChild(list);
}

void XmlDocument::WritePathTree(const std::u16string& listName, const PathList& paths) {
  WritePathTree(listName, paths, {});
}

void XmlDocument::WritePathTree(
    const std::u16string& listName, const PathList& paths,
    const std::function<NodeAttributes(const std::u16string& path)>& extra) {
  XmlElement list = NewList(listName, {});
  PathTreeBuilder tree(XmlAccess::Node(list));
  for (const std::u16string& path : paths) {
    const pugi::xml_node node = tree.NodeFor(path);
    if (!extra) continue;
    for (const auto& [name, value] : extra(path)) SetAttributeValue(node, name.c_str(), value);
  }
  mainElement.AppendChild(list);
}

void XmlDocument::WriteAttributeTree(const std::u16string& listName, const AttributeMap& words) {
  XmlElement list = NewList(listName, {});
  PathTreeBuilder tree(XmlAccess::Node(list));
  for (const auto& [path, word] : words) {
    SetAttributeValue(tree.NodeFor(path), "attr", HexText(word));
  }
  mainElement.AppendChild(list);
}

// ---- Readers -----------------------------------------------------------------

PathList ReadList(XmlElement list, const std::u16string& itemName,
                  const std::u16string& attributeName) {
  const pugi::xml_node node = XmlAccess::Require(list);
  const std::string attribute = Utf8(attributeName);
  PathList items;
  ForEachChildElement(node, Utf8(itemName).c_str(), [&](pugi::xml_node item) {
    items.push_back(RequiredAttribute(item, attribute.c_str()));
  });
  return items;
}

AttributeMap ReadAttributeMap(XmlElement list) {
  const pugi::xml_node node = XmlAccess::Require(list);
  AttributeMap words;
  ForEachChildElement(node, "fNode", [&](pugi::xml_node item) {
    words[RequiredAttribute(item, "path")] = WordFromDecimal(RequiredAttribute(item, "attr"));
  });
  return words;
}

TextMap ReadNameValueMap(XmlElement list, const std::u16string& itemName,
                         const std::u16string& keyAttribute, const std::u16string& valueAttribute) {
  const pugi::xml_node node = XmlAccess::Require(list);
  const std::string key = Utf8(keyAttribute);
  const std::string value = Utf8(valueAttribute);
  TextMap entries;
  ForEachChildElement(node, Utf8(itemName).c_str(), [&](pugi::xml_node item) {
    entries[RequiredAttribute(item, key.c_str())] = RequiredAttribute(item, value.c_str());
  });
  return entries;
}

}  // namespace torquelin
