// The XML document layer: one small document object over the DOM library,
// the list, map and tree writers, the readers, and the module's failure type.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/tree_types.h"

namespace torquelin {

// Attribute values are written through platform::ToXmlUtf8 and read through
// platform::FromXmlUtf8: the characters XML 1.0 cannot hold travel as an
// escape sequence, so every name a tree can hold round-trips.
//
// The one failure of the XML layer: a document that cannot be made, read or
// saved, a missing element or attribute. It is deliberately not a CZRErr:
// CreateNew, Open and the vault reader turn it into one; everywhere else it
// passes to the job runner, which reports it as an unknown failure.
class XmlFailure {
 public:
  explicit XmlFailure(std::u16string why = {}, uint32_t systemCode = 0)
      : description(std::move(why)), code(systemCode) {}
  // Why it failed; empty when there is nothing to say (a missing node).
  std::u16string description;
  // The system's error code when a system call failed (the file could not
  // be read), else 0.
  uint32_t code;
};

// A handle to an element of an XmlDocument; it does not own the element and
// is valid until the document is destroyed or reloaded (CreateNew, Open).
// A null handle stands for "no such element": every operation on it raises
// XmlFailure with an empty description.
class XmlElement {
 public:
  XmlElement() = default;

  bool IsNull() const { return node_ == nullptr; }

  // Sets an attribute; a new one goes after the existing ones, an existing
  // one keeps its place.
  void SetAttribute(const std::u16string& name, const std::u16string& value);
  // The text of an attribute; raises XmlFailure when it is missing.
  std::u16string GetAttribute(const std::u16string& name) const;
  bool HasAttribute(const std::u16string& name) const;
  // The first child element with this name, or a null handle.
  XmlElement FindChild(const std::u16string& name) const;
  // Appends an unattached element (from CreateElement) as the last child.
  void AppendChild(XmlElement child);

 private:
  friend class XmlDocument;
  friend struct XmlAccess;
  explicit XmlElement(void* node) : node_(node) {}
  void* node_ = nullptr;  // the library's node, kept opaque to callers
};

// One XML document. Owns the DOM; elements handed out die with it. Used on
// the job's thread only.
class XmlDocument {
 public:
  XmlDocument();
  ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Starts from the fixed text <xml version="1.0"></xml>. Raises CZRErr
  // "Unable to make an XML object " + description (.\xmlrep, line 46).
  void CreateNew();
  // CreateNew, then the product element `name` with its Version attribute,
  // appended to the document element and made mainElement: the shape every
  // file we write starts with.
  void CreateNewWithProduct(const char16_t* name, const char16_t* version);
  // Loads a file. A file that is missing, unreadable or not well-formed XML
  // leaves documentElement() null (the later reads fail) and LoadFailure()
  // saying why; raises CZRErr "XML object Err" (.\xmlrep, line 29) only when
  // the document itself cannot be made.
  void Open(const std::u16string& path);
  // Why the last Open found no document: the path, ": " and the system's
  // reason or the parser's complaint with its offset. Empty after a load
  // that worked.
  const std::u16string& LoadFailure() const;
  // The system's error code behind LoadFailure when reading the file
  // failed; 0 otherwise.
  uint32_t LoadFailureCode() const;
  // A new element, not yet attached.
  XmlElement CreateElement(const std::u16string& name);
  // Writes the document as indented UTF-8 with an XML declaration. An
  // existing file is replaced atomically: the bytes go to a temporary file
  // beside it (platform::ReplacementFile: private to the user until done),
  // are flushed to the device and renamed over the target, so a failure
  // leaves the previous file as it was and no temporary behind; the new file
  // keeps the old one's permissions, or gets those of any new file. A
  // symbolic link at the path stays and what it names is written; a
  // character device or FIFO is written into as it is. Raises CZRErr
  // "Unable to save an XML file:" + path + ": " + the system's reason
  // (.\xmlrep, line 95), or "Refusing to replace what is not a regular
  // file: " + path (.\fileio, line 301) for a directory, a socket or a block
  // device; path is the one given.
  void Save(const std::u16string& path);

  // The document's root element (xml for a new document); null after Open of
  // a file that did not load.
  XmlElement documentElement() const;

  // The product element the writers append their lists to.
  XmlElement mainElement;

  // Writers. Each makes one list element, fills it with items in the given
  // order and appends it to `parent` (mainElement when null).

  // One `itemName` element per text, the text in its `attributeName`.
  // Returns the list element so the caller can add attributes to it.
  XmlElement WriteList(const std::u16string& listName, const PathList& items,
                       const std::u16string& itemName, const std::u16string& attributeName,
                       XmlElement parent = {});
  // One `itemName` per entry with the key attribute, then the value attribute.
  void WriteNameValueList(const std::u16string& listName, const TextMap& entries,
                          const std::u16string& keyAttribute, const std::u16string& valueAttribute,
                          const std::u16string& itemName);
  // One fNode per entry: path, then attr as signed decimal.
  void WriteAttributeList(const std::u16string& listName, const AttributeMap& words);
  // Nested fNode elements, one per path component (split at '\', empty
  // components dropped), `path` holding the component; paths sharing a
  // directory share its node. Linear in the number of components.
  void WritePathTree(const std::u16string& listName, const PathList& paths);
  // As WritePathTree; the node of each path's last component also gets the
  // attributes `extra` gives for the path (name, value; in that order).
  using NodeAttributes = std::vector<std::pair<std::string, std::u16string>>;
  void WritePathTree(const std::u16string& listName, const PathList& paths,
                     const std::function<NodeAttributes(const std::u16string& path)>& extra);
  // As WritePathTree; the node of each path's last component also gets attr
  // in lower-case hexadecimal.
  void WriteAttributeTree(const std::u16string& listName, const AttributeMap& words);

 private:
  // A new list element; raises XmlFailure when there is nothing to append
  // it to (no parent given and no main element).
  XmlElement NewList(const std::u16string& listName, XmlElement parent);

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Readers. Each takes a list element and reads its child elements named
// `itemName`, in document order; other children are ignored. A null list
// element or a missing attribute raises XmlFailure.

// The `attributeName` text of every item.
PathList ReadList(XmlElement list, const std::u16string& itemName,
                  const std::u16string& attributeName);
// fNode items: path -> attr read as decimal the way _wtoi reads it (leading
// blanks and a sign accepted, digits up to the first non-digit, 0 when there
// are none, saturating at INT_MAX and INT_MIN), its bits taken as the word:
// "-1" gives 0xFFFFFFFF, "4294967295" 0x7FFFFFFF. A repeated path keeps the
// last value.
AttributeMap ReadAttributeMap(XmlElement list);
// key -> value; a repeated key keeps the last value.
TextMap ReadNameValueMap(XmlElement list, const std::u16string& itemName,
                         const std::u16string& keyAttribute, const std::u16string& valueAttribute);

}  // namespace torquelin
