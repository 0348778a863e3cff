// PE resource directory, VERSIONINFO and manifest XML readers for the tests.
#include "tests/native/res/pe_resources.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

struct Bytes {
    const std::string& d;
    bool ok(size_t at, size_t n) const { return at <= d.size() && n <= d.size() - at; }
    uint16_t u16(size_t at) const { return (uint16_t)((uint8_t)d[at] | (uint8_t)d[at + 1] << 8); }
    uint32_t u32(size_t at) const { return u16(at) | (uint32_t)u16(at + 2) << 16; }
};

struct Section {
    uint32_t va, size, raw, rawSize;
};

struct PeReader {
    Bytes b;
    std::vector<Section> sections;
    size_t root = 0;
    PeFile& out;

    // File offset of [rva, rva+n), or SIZE_MAX when it is not in the file.
    size_t offsetOf(uint32_t rva, size_t n) const
    {
        for (const Section& s : sections) {
            uint32_t span = s.size > s.rawSize ? s.size : s.rawSize;
            if (rva < s.va || rva - s.va >= span)
                continue;
            size_t inSection = rva - s.va;
            if (inSection > s.rawSize || n > s.rawSize - inSection || !b.ok(s.raw + inSection, n))
                return SIZE_MAX;
            return s.raw + inSection;
        }
        return SIZE_MAX;
    }

    std::string nameAt(uint32_t rel) const
    {
        size_t at = root + rel;
        if (!b.ok(at, 2))
            return "?";
        uint16_t n = b.u16(at);
        if (!b.ok(at + 2, 2u * n))
            return "?";
        std::string s;
        for (uint16_t i = 0; i < n; i++)
            s += (char)b.u16(at + 2 + 2u * i);
        return s;
    }

    // One directory level: 0 types, 1 names, 2 languages, then the data entry.
    bool walk(uint32_t rel, int level, PeResource current)
    {
        size_t at = root + rel;
        if (level > 2 || !b.ok(at, 16))
            return false;
        unsigned entries = b.u16(at + 12) + b.u16(at + 14);
        if (!b.ok(at + 16, 8u * entries))
            return false;
        for (unsigned i = 0; i < entries; i++) {
            uint32_t name = b.u32(at + 16 + 8 * i);
            uint32_t target = b.u32(at + 16 + 8 * i + 4);
            PeResource r = current;
            bool named = name & 0x80000000u;
            if (level == 0) {
                if (named)
                    continue;
                r.type = name;
            } else if (level == 1) {
                r.id = named ? 0 : name;
                r.name = named ? nameAt(name & 0x7FFFFFFFu) : "";
            } else {
                r.language = name;
            }
            if (target & 0x80000000u) {
                if (level == 2 || !walk(target & 0x7FFFFFFFu, level + 1, r))
                    return false;
                continue;
            }
            if (level != 2 || !b.ok(root + target, 16))
                return false;
            uint32_t rva = b.u32(root + target), size = b.u32(root + target + 4);
            size_t data = offsetOf(rva, size);
            if (data == SIZE_MAX)
                return false;
            r.data = b.d.substr(data, size);
            out.resources.push_back(r);
        }
        return true;
    }
};

} // namespace

std::vector<const PeResource*> PeFile::ofType(uint32_t type) const
{
    std::vector<const PeResource*> found;
    for (const PeResource& r : resources)
        if (r.type == type)
            found.push_back(&r);
    return found;
}

PeFile readPeFile(const std::string& path)
{
    PeFile out;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        out.error = "cannot open " + path;
        return out;
    }
    std::string d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    PeReader r{Bytes{d}, {}, 0, out};
    const Bytes& b = r.b;
    if (!b.ok(0, 0x40) || d.compare(0, 2, "MZ") != 0) {
        out.error = "no MZ header";
        return out;
    }
    size_t pe = b.u32(0x3C);
    if (!b.ok(pe, 24) || d.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
        out.error = "no PE header";
        return out;
    }
    out.machine = b.u16(pe + 4);
    unsigned sectionCount = b.u16(pe + 6);
    size_t optional = pe + 24, optionalSize = b.u16(pe + 20);
    if (!b.ok(optional, optionalSize) || optionalSize < 2) {
        out.error = "optional header cut off";
        return out;
    }
    uint16_t magic = b.u16(optional);
    size_t counts = magic == 0x10B ? 92 : magic == 0x20B ? 108 : 0;
    if (counts == 0 || optionalSize < counts + 4 + 3 * 8 || b.u32(optional + counts) < 3) {
        out.error = "no resource directory entry";
        return out;
    }
    size_t resourceEntry = optional + counts + 4 + 2 * 8;
    uint32_t resourceRva = b.u32(resourceEntry);
    size_t table = optional + optionalSize;
    if (!b.ok(table, 40u * sectionCount)) {
        out.error = "section table cut off";
        return out;
    }
    for (unsigned i = 0; i < sectionCount; i++) {
        size_t s = table + 40 * i;
        r.sections.push_back({b.u32(s + 12), b.u32(s + 8), b.u32(s + 20), b.u32(s + 16)});
    }
    if (resourceRva == 0) {
        out.error = "no resources";
        return out;
    }
    r.root = r.offsetOf(resourceRva, 16);
    if (r.root == SIZE_MAX || !r.walk(0, 0, PeResource())) {
        out.error = "resource directory out of bounds";
        out.resources.clear();
    }
    return out;
}

namespace {

struct VersionBlock {
    std::string key;
    uint16_t valueLength = 0, type = 0;
    std::string value; // raw bytes
    std::vector<VersionBlock> children;
};

size_t align4(size_t n) { return (n + 3) & ~(size_t)3; }

std::string narrow(const Bytes& b, size_t at, size_t end, size_t* after)
{
    std::string s;
    while (at + 2 <= end) {
        uint16_t c = b.u16(at);
        at += 2;
        if (c == 0) {
            *after = at;
            return s;
        }
        s += c < 256 ? (char)c : '?';
    }
    *after = SIZE_MAX;
    return s;
}

// One block: wLength, wValueLength, wType, key, padding, value, padding, children.
bool parseBlock(const Bytes& b, size_t at, size_t end, VersionBlock& out)
{
    if (at + 6 > end)
        return false;
    size_t length = b.u16(at);
    if (length < 6 || length > end - at)
        return false;
    end = at + length;
    out.valueLength = b.u16(at + 2);
    out.type = b.u16(at + 4);
    size_t p;
    out.key = narrow(b, at + 6, end, &p);
    if (p == SIZE_MAX)
        return false;
    p = align4(p);
    size_t valueBytes = out.type == 1 ? 2u * out.valueLength : out.valueLength;
    if (p > end || valueBytes > end - p)
        return false;
    out.value = b.d.substr(p, valueBytes);
    p = align4(p + valueBytes);
    while (p < end) {
        VersionBlock child;
        if (!parseBlock(b, p, end, child))
            return false;
        p = align4(p + b.u16(p));
        out.children.push_back(child);
    }
    return true;
}

} // namespace

VersionInfo parseVersionInfo(const std::string& block)
{
    VersionInfo v;
    Bytes b{block};
    VersionBlock root;
    if (!parseBlock(b, 0, block.size(), root) || root.key != "VS_VERSION_INFO") {
        v.error = "not a VS_VERSION_INFO block";
        return v;
    }
    Bytes f{root.value};
    if (root.value.size() != 52 || f.u32(0) != 0xFEEF04BDu) {
        v.error = "no VS_FIXEDFILEINFO";
        return v;
    }
    v.fileVersionMS = f.u32(8);
    v.fileVersionLS = f.u32(12);
    v.productVersionMS = f.u32(16);
    v.productVersionLS = f.u32(20);
    v.fileOS = f.u32(32);
    v.fileType = f.u32(36);
    for (const VersionBlock& info : root.children) {
        if (info.key == "StringFileInfo") {
            for (const VersionBlock& table : info.children)
                for (const VersionBlock& s : table.children) {
                    size_t after;
                    Bytes text{s.value};
                    v.strings[table.key][s.key] = narrow(text, 0, s.value.size(), &after);
                }
        } else if (info.key == "VarFileInfo") {
            for (const VersionBlock& var : info.children) {
                Bytes words{var.value};
                if (var.key == "Translation")
                    for (size_t i = 0; i + 4 <= var.value.size(); i += 4)
                        v.translations.push_back(words.u32(i));
            }
        }
    }
    return v;
}

namespace {

struct XmlParser {
    const std::string& s;
    size_t p = 0;
    std::string error;

    bool fail(const std::string& what)
    {
        if (error.empty())
            error = what + " at offset " + std::to_string(p);
        return false;
    }
    void skipSpace()
    {
        while (p < s.size() && strchr(" \t\r\n", s[p]))
            p++;
    }
    bool skipPast(const char* end)
    {
        size_t at = s.find(end, p);
        if (at == std::string::npos)
            return fail(std::string("no ") + end);
        p = at + strlen(end);
        return true;
    }
    // Comments, processing instructions and space between elements.
    bool skipMisc()
    {
        for (;;) {
            skipSpace();
            if (s.compare(p, 4, "<!--") == 0) {
                if (!skipPast("-->"))
                    return false;
            } else if (s.compare(p, 2, "<?") == 0) {
                if (!skipPast("?>"))
                    return false;
            } else {
                return true;
            }
        }
    }
    std::string name()
    {
        size_t start = p;
        while (p < s.size() && (isalnum((unsigned char)s[p]) || strchr(":_-.", s[p])))
            p++;
        return s.substr(start, p - start);
    }
    static std::string unescape(const std::string& t)
    {
        static const std::pair<const char*, char> entities[] = {
            {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&amp;", '&'}};
        std::string out;
        for (size_t i = 0; i < t.size();) {
            bool done = false;
            for (const auto& e : entities)
                if (t.compare(i, strlen(e.first), e.first) == 0) {
                    out += e.second;
                    i += strlen(e.first);
                    done = true;
                    break;
                }
            if (!done)
                out += t[i++];
        }
        return out;
    }
    static std::string trim(const std::string& t)
    {
        size_t a = t.find_first_not_of(" \t\r\n"), z = t.find_last_not_of(" \t\r\n");
        return a == std::string::npos ? "" : t.substr(a, z - a + 1);
    }

    bool element(XmlElement& out, std::map<std::string, std::string> scope, int depth)
    {
        if (depth > 32)
            return fail("nesting too deep");
        if (p >= s.size() || s[p] != '<')
            return fail("expected an element");
        p++;
        std::string qname = name();
        if (qname.empty())
            return fail("element without a name");
        std::map<std::string, std::string> raw; // qualified name -> value
        for (;;) {
            skipSpace();
            if (p >= s.size())
                return fail("element <" + qname + "> not closed");
            if (s[p] == '>' || s.compare(p, 2, "/>") == 0)
                break;
            std::string an = name();
            skipSpace();
            if (an.empty() || p >= s.size() || s[p] != '=')
                return fail("bad attribute in <" + qname + ">");
            p++;
            skipSpace();
            if (p >= s.size() || (s[p] != '"' && s[p] != '\''))
                return fail("unquoted attribute " + an);
            char q = s[p++];
            size_t close = s.find(q, p);
            if (close == std::string::npos)
                return fail("attribute " + an + " not closed");
            if (raw.count(an))
                return fail("attribute " + an + " twice");
            raw[an] = unescape(s.substr(p, close - p));
            p = close + 1;
        }
        for (const auto& a : raw) {
            if (a.first == "xmlns")
                scope[""] = a.second;
            else if (a.first.compare(0, 6, "xmlns:") == 0)
                scope[a.first.substr(6)] = a.second;
        }
        auto resolve = [&](const std::string& q, std::string* local) -> bool {
            size_t colon = q.find(':');
            std::string prefix = colon == std::string::npos ? "" : q.substr(0, colon);
            *local = colon == std::string::npos ? q : q.substr(colon + 1);
            return prefix.empty() || scope.count(prefix);
        };
        if (!resolve(qname, &out.name))
            return fail("undeclared prefix in <" + qname + ">");
        size_t colon = qname.find(':');
        out.ns = scope[colon == std::string::npos ? "" : qname.substr(0, colon)];
        for (const auto& a : raw) {
            if (a.first == "xmlns" || a.first.compare(0, 6, "xmlns:") == 0)
                continue;
            std::string local;
            if (!resolve(a.first, &local))
                return fail("undeclared prefix in " + a.first);
            out.attributes[local] = a.second;
        }
        if (s[p] == '/') {
            p += 2;
            return true;
        }
        p++;
        std::string text;
        for (;;) {
            size_t lt = s.find('<', p);
            if (lt == std::string::npos)
                return fail("<" + qname + "> not closed");
            text += s.substr(p, lt - p);
            p = lt;
            if (s.compare(p, 4, "<!--") == 0) {
                if (!skipPast("-->"))
                    return false;
            } else if (s.compare(p, 2, "</") == 0) {
                p += 2;
                if (name() != qname)
                    return fail("</...> does not match <" + qname + ">");
                skipSpace();
                if (p >= s.size() || s[p] != '>')
                    return fail("bad end tag of <" + qname + ">");
                p++;
                out.text = trim(unescape(text));
                return true;
            } else {
                XmlElement child;
                if (!element(child, scope, depth + 1))
                    return false;
                out.children.push_back(child);
            }
        }
    }
};

void collect(const XmlElement& e, const std::vector<std::pair<std::string, std::string>>& path, size_t step,
             std::vector<const XmlElement*>& found)
{
    for (const XmlElement& c : e.children) {
        if (c.ns != path[step].first || c.name != path[step].second)
            continue;
        if (step + 1 == path.size())
            found.push_back(&c);
        else
            collect(c, path, step + 1, found);
    }
}

} // namespace

std::vector<const XmlElement*> XmlElement::find(const std::vector<std::pair<std::string, std::string>>& path) const
{
    std::vector<const XmlElement*> found;
    if (!path.empty())
        collect(*this, path, 0, found);
    return found;
}

std::string XmlElement::attr(const std::string& n) const
{
    auto it = attributes.find(n);
    return it == attributes.end() ? "" : it->second;
}

XmlElement parseXml(const std::string& text, std::string* error)
{
    XmlParser x{text, 0, ""};
    XmlElement root;
    bool ok = x.skipMisc() && x.element(root, {}, 0) && x.skipMisc();
    if (ok && x.p != text.size())
        ok = x.fail("content after the root element");
    if (error)
        *error = ok ? "" : x.error;
    return ok ? root : XmlElement();
}
