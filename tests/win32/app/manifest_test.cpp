// The manager's manifest in effect: this program carries the manager's
// resources as ParloMgr.exe does, so the loader applies the same manifest.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

TEST(Manifest, CommonControlsSixAndPerMonitorAwareness)
{
    // comctl32 is bound from the side-by-side Common Controls 6 assembly, not
    // the system folder's version 5 (Wine's DllGetVersion says 5.81 for both).
    char path[MAX_PATH] = "";
    GetModuleFileNameA(GetModuleHandleA("comctl32.dll"), path, sizeof path);
    std::string folder = path;
    std::transform(folder.begin(), folder.end(), folder.begin(), [](unsigned char c) { return (char)tolower(c); });
    EXPECT_NE(std::string::npos, folder.find("microsoft.windows.common-controls_6595b64144ccf1df_6.")) << path;

    // Per-monitor awareness (the calls are newer than our headers' target).
    typedef HANDLE(WINAPI * GetContextFn)();
    typedef int(WINAPI * AwarenessFn)(HANDLE);
    HMODULE user = GetModuleHandleA("user32.dll");
    auto getContext = reinterpret_cast<GetContextFn>(reinterpret_cast<void*>(GetProcAddress(user, "GetThreadDpiAwarenessContext")));
    auto awareness = reinterpret_cast<AwarenessFn>(reinterpret_cast<void*>(GetProcAddress(user, "GetAwarenessFromDpiAwarenessContext")));
    ASSERT_TRUE(getContext && awareness);
    const int DPI_AWARENESS_PER_MONITOR = 2;
    EXPECT_EQ(DPI_AWARENESS_PER_MONITOR, awareness(getContext()));
}
