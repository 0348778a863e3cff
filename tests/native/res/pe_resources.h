// Reading a Windows binary's resources back without Windows: the resource
// directory of a PE32 or PE32+ file, its VERSIONINFO block, and a small XML
// reader for its manifest. Every offset is checked against the file.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct PeResource {
    uint32_t type = 0;     // integer type; named types are skipped
    uint32_t id = 0;       // integer id, or 0 when named
    std::string name;      // the name of a named resource
    uint32_t language = 0;
    std::string data;
};

struct PeFile {
    std::string error;     // empty when the file was read whole
    uint16_t machine = 0;  // 0x14C i386, 0x8664 x86-64
    std::vector<PeResource> resources;

    std::vector<const PeResource*> ofType(uint32_t type) const;
};

PeFile readPeFile(const std::string& path);

// A VERSIONINFO block: the fixed part and the string tables.
struct VersionInfo {
    std::string error;
    uint32_t fileVersionMS = 0, fileVersionLS = 0;
    uint32_t productVersionMS = 0, productVersionLS = 0;
    uint32_t fileOS = 0, fileType = 0;
    std::map<std::string, std::map<std::string, std::string>> strings; // table ("040904E4") -> key -> text
    std::vector<uint32_t> translations;                                 // language | code page << 16
};

VersionInfo parseVersionInfo(const std::string& block);

// An XML element with its namespace resolved (xmlns and prefixes).
struct XmlElement {
    std::string ns, name, text;
    std::map<std::string, std::string> attributes; // by local name, xmlns declarations left out
    std::vector<XmlElement> children;

    // Every descendant at the end of a path of (namespace, name) steps.
    std::vector<const XmlElement*> find(const std::vector<std::pair<std::string, std::string>>& path) const;
    std::string attr(const std::string& name) const;
};

// Parses a whole document; on malformed XML, error says where.
XmlElement parseXml(const std::string& text, std::string* error);
