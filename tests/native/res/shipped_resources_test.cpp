// The shipped binaries' version details and manifests, read back from the
// PE files of the Windows builds beside this one (build/win32, as shipped,
// and build/win64): what Windows reads for the UAC decision, the controls'
// version, DPI scaling, compatibility and the file's Details tab.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <set>
#include <string>

#include "tests/native/res/pe_resources.h"

namespace {

enum { RT_VERSION_TYPE = 16, RT_MANIFEST_TYPE = 24, VFT_APP_TYPE = 1, VFT_DLL_TYPE = 2, VOS_NT_WINDOWS32_OS = 0x40004 };

const std::string ASM_V1 = "urn:schemas-microsoft-com:asm.v1";
const std::string ASM_V3 = "urn:schemas-microsoft-com:asm.v3";
const std::string COMPAT = "urn:schemas-microsoft-com:compatibility.v1";
const std::string SETTINGS_2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings";
const std::string SETTINGS_2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings";

struct Shipped {
    const char* file;
    const char* level; // requested execution level; nullptr: no manifest of its own
    bool manager;
};

const Shipped shipped[] = {
    {"ParloMgr.exe", "highestAvailable", true},
    {"ParloHost.exe", "asInvoker", false},
    {"ParloSetup.exe", "requireAdministrator", false},
    {"VSPDCTL.DLL", nullptr, false},
};

bool exists(const std::string& path) { return std::ifstream(path).good(); }

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return (char)tolower(c); });
    return s;
}

std::string dotted(uint32_t ms, uint32_t ls)
{
    return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." + std::to_string(ls >> 16) + "." +
           std::to_string(ls & 0xFFFF);
}

// The manifest's XML against what Windows acts on.
void checkManifest(const Shipped& s, const std::string& xml, uint16_t machine)
{
    std::string error;
    XmlElement root = parseXml(xml, &error);
    ASSERT_EQ("", error) << "the manifest is not well-formed XML";
    EXPECT_EQ(ASM_V1, root.ns);
    EXPECT_EQ("assembly", root.name);
    EXPECT_EQ("1.0", root.attr("manifestVersion"));

    // Its own identity: a wrong architecture stops the program from starting.
    auto identity = root.find({{ASM_V1, "assemblyIdentity"}});
    ASSERT_EQ(1u, identity.size());
    EXPECT_EQ(PARLO_VERSION, identity[0]->attr("version"));
    EXPECT_EQ(machine == 0x8664 ? "amd64" : "x86", identity[0]->attr("processorArchitecture"));
    EXPECT_EQ("win32", identity[0]->attr("type"));

    auto level = root.find({{ASM_V3, "trustInfo"}, {ASM_V3, "security"}, {ASM_V3, "requestedPrivileges"},
                            {ASM_V3, "requestedExecutionLevel"}});
    ASSERT_EQ(1u, level.size()) << "one requestedExecutionLevel";
    EXPECT_EQ(s.level, level[0]->attr("level"));
    EXPECT_EQ("false", level[0]->attr("uiAccess"));

    std::set<std::string> os;
    for (const XmlElement* e : root.find({{COMPAT, "compatibility"}, {COMPAT, "application"}, {COMPAT, "supportedOS"}}))
        os.insert(lower(e->attr("Id")));
    EXPECT_EQ((std::set<std::string>{"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",   // 7
                                     "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",   // 8
                                     "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",   // 8.1
                                     "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}), // 10 and 11
              os);

    auto controls = root.find({{ASM_V1, "dependency"}, {ASM_V1, "dependentAssembly"}, {ASM_V1, "assemblyIdentity"}});
    auto dpiAware = root.find({{ASM_V3, "application"}, {ASM_V3, "windowsSettings"}, {SETTINGS_2005, "dpiAware"}});
    auto dpiAwareness =
        root.find({{ASM_V3, "application"}, {ASM_V3, "windowsSettings"}, {SETTINGS_2016, "dpiAwareness"}});
    if (!s.manager) {
        EXPECT_TRUE(controls.empty() && dpiAware.empty() && dpiAwareness.empty()) << "no windows, no UI settings";
        return;
    }
    ASSERT_EQ(1u, controls.size()) << "the Common Controls 6 dependency";
    const XmlElement& cc = *controls[0];
    EXPECT_EQ((std::map<std::string, std::string>{{"type", "win32"},
                                                  {"name", "Microsoft.Windows.Common-Controls"},
                                                  {"version", "6.0.0.0"},
                                                  {"processorArchitecture", "*"},
                                                  {"publicKeyToken", "6595b64144ccf1df"},
                                                  {"language", "*"}}),
              cc.attributes);
    ASSERT_EQ(1u, dpiAware.size()) << "dpiAware in the 2005 namespace";
    EXPECT_EQ("true/pm", lower(dpiAware[0]->text));
    ASSERT_EQ(1u, dpiAwareness.size()) << "dpiAwareness in the 2016 namespace";
    EXPECT_EQ("permonitorv2", lower(dpiAwareness[0]->text));
}

// Leaves the file's description in *description.
void checkVersion(const Shipped& s, const PeResource& r, std::string* description)
{
    VersionInfo v = parseVersionInfo(r.data);
    ASSERT_EQ("", v.error);
    EXPECT_EQ(PARLO_VERSION, dotted(v.fileVersionMS, v.fileVersionLS)) << "fixed FILEVERSION";
    EXPECT_EQ(PARLO_VERSION, dotted(v.productVersionMS, v.productVersionLS)) << "fixed PRODUCTVERSION";
    EXPECT_EQ((uint32_t)(s.level ? VFT_APP_TYPE : VFT_DLL_TYPE), v.fileType);
    EXPECT_EQ((uint32_t)VOS_NT_WINDOWS32_OS, v.fileOS);
    // US English with the ANSI code page: the texts are single-byte.
    EXPECT_EQ(std::vector<uint32_t>{0x0409 | 1252u << 16}, v.translations);
    ASSERT_EQ(1u, v.strings.size());
    ASSERT_EQ(1u, v.strings.count("040904E4")) << "the string table matches the translation";
    std::map<std::string, std::string> t = v.strings["040904E4"];
    std::string file = s.file;
    EXPECT_EQ("Quorvat", t["CompanyName"]);
    EXPECT_EQ("ParloMgr", t["ProductName"]);
    EXPECT_EQ(PARLO_VERSION, t["FileVersion"]);
    EXPECT_EQ(PARLO_VERSION, t["ProductVersion"]);
    EXPECT_EQ(file, t["OriginalFilename"]);
    EXPECT_EQ(file.substr(0, file.find('.')), t["InternalName"]);
    EXPECT_EQ(0u, t["LegalCopyright"].find("Copyright (C) ")) << t["LegalCopyright"];
    *description = t["FileDescription"];
}

// One binary of one build; its description goes into *descriptions.
void checkBinary(const std::string& bin, const Shipped& s, bool shippedBuild, std::set<std::string>* descriptions)
{
    PeFile pe = readPeFile(bin + s.file);
    ASSERT_EQ("", pe.error);
    EXPECT_EQ(shippedBuild ? 0x14C : 0x8664, pe.machine);

    auto manifests = pe.ofType(RT_MANIFEST_TYPE);
    if (s.level) {
        // Id 1: the manifest Windows applies when it creates the process.
        ASSERT_EQ(1u, manifests.size());
        EXPECT_EQ(1u, manifests[0]->id);
        checkManifest(s, manifests[0]->data, pe.machine);
    } else {
        EXPECT_TRUE(manifests.empty()) << "the process's manifest is the manager's";
    }

    auto versions = pe.ofType(RT_VERSION_TYPE);
    ASSERT_EQ(1u, versions.size());
    EXPECT_EQ(1u, versions[0]->id);
    std::string description;
    checkVersion(s, *versions[0], &description);
    EXPECT_FALSE(description.empty());
    EXPECT_TRUE(descriptions->insert(description).second) << "each file describes itself: " << description;

    if (s.manager) {
        // Its own resources are still there beside the merged ones.
        EXPECT_FALSE(pe.ofType(5).empty()) << "dialog templates";
        EXPECT_FALSE(pe.ofType(6).empty()) << "string table";
        EXPECT_FALSE(pe.ofType(14).empty()) << "icon group";
    }
}

} // namespace

TEST(ShippedResources, EveryBinaryCarriesItsVersionAndManifest)
{
    int checked = 0;
    for (const char* build : {"win32", "win64"}) {
        std::string bin = std::string(PARLO_BUILD_ROOT) + "/" + build + "/bin/";
        if (!exists(bin + "ParloMgr.exe")) {
            std::cout << "build/" << build << " has no ParloMgr.exe: not checked\n";
            continue;
        }
        checked++;
        std::set<std::string> descriptions;
        for (const Shipped& s : shipped) {
            SCOPED_TRACE(std::string(build) + "/" + s.file);
            checkBinary(bin, s, std::string(build) == "win32", &descriptions);
        }
    }
    if (checked == 0)
        GTEST_SKIP() << "no Windows build beside this one (make win win32)";
}
