// Requests to run_in_lab.sh through files in a shared folder, and the check that we run inside the lab.
#include "tests/win32/scan/lab_relay.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string windowsPath(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

// Every adapter address must be in the lab's 10.231.0.0/16 and the PC's own
// 10.231.0.1 must be there: anything else means a way off the machine.
bool onlyLabAddresses(std::string* why)
{
    typedef ULONG(WINAPI * GetAdaptersInfoFn)(PIP_ADAPTER_INFO, PULONG);
    HMODULE library = LoadLibraryA("iphlpapi.dll");
    GetAdaptersInfoFn getInfo = library ? (GetAdaptersInfoFn)(void*)GetProcAddress(library, "GetAdaptersInfo") : nullptr;
    if (!getInfo) {
        *why = "adapter list unavailable";
        return false;
    }
    std::vector<char> buffer(64 * 1024);
    ULONG size = (ULONG)buffer.size();
    if (getInfo((PIP_ADAPTER_INFO)buffer.data(), &size) != ERROR_SUCCESS) {
        *why = "adapter list unreadable";
        return false;
    }
    bool pcAddress = false;
    for (PIP_ADAPTER_INFO a = (PIP_ADAPTER_INFO)buffer.data(); a; a = a->Next)
        for (PIP_ADDR_STRING s = &a->IpAddressList; s; s = s->Next) {
            std::string address = s->IpAddress.String;
            if (address == "0.0.0.0" || address.rfind("127.", 0) == 0)
                continue;
            if (address.rfind("10.231.", 0) != 0) {
                *why = "adapter address " + address + " is outside the lab";
                return false;
            }
            if (address == "10.231.0.1")
                pcAddress = true;
        }
    if (!pcAddress)
        *why = "the lab's PC address 10.231.0.1 is missing";
    return pcAddress;
}

}  // namespace

LabRelay* LabRelay::get(std::string* why)
{
    static LabRelay* relay;
    static std::string reason;
    static bool checked;
    if (!checked) {
        checked = true;
        const char* folder = getenv("PARLO_LAB_RELAY");
        if (!folder || !*folder)
            reason = "not inside the lab (run the suite's run_in_lab.sh)";
        else if (onlyLabAddresses(&reason))
            relay = new LabRelay(windowsPath(folder));
    }
    if (why)
        *why = reason;
    return relay;
}

bool LabRelay::request(const std::string& text, int* status, std::string* output, unsigned timeoutMs)
{
    unsigned n = ++next_;
    char name[64];
    snprintf(name, sizeof name, "\\req-%06u", n);
    std::string temporary = folder_ + name + ".tmp";
    std::string ready = folder_ + name + ".txt";
    FILE* f = fopen(temporary.c_str(), "wb");
    if (!f)
        return false;
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
    // Renamed whole, so the relay never reads half a request.
    if (!MoveFileExA(temporary.c_str(), ready.c_str(), MOVEFILE_REPLACE_EXISTING))
        return false;

    snprintf(name, sizeof name, "\\resp-%06u.txt", n);
    std::string answer = folder_ + name;
    DWORD start = GetTickCount();
    for (;;) {
        f = fopen(answer.c_str(), "rb");
        if (f)
            break;
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(5);
    }
    std::string content;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, f)) > 0)
        content.append(buffer, got);
    fclose(f);
    DeleteFileA(answer.c_str());
    size_t eol = content.find('\n');
    *status = atoi(content.substr(0, eol).c_str());
    *output = eol == std::string::npos ? "" : content.substr(eol + 1);
    return true;
}

bool LabRelay::startDevices(const std::string& config, const std::string& args, std::string* error)
{
    int status = -1;
    std::string output;
    bool answered = request("devsim\n" + args + "\n" + config, &status, &output);
    if (error)
        *error = answered ? output : "no answer from the relay";
    return answered && status == 0;
}

bool LabRelay::stopDevices()
{
    int status = -1;
    std::string output;
    return request("stop\n", &status, &output) && status == 0;
}

std::string LabRelay::ctl(const std::string& command, bool* ok)
{
    int status = -1;
    std::string output;
    bool answered = request("ctl\n" + command + "\n", &status, &output);
    if (ok)
        *ok = answered && status == 0;
    return output;
}

std::vector<std::string> LabRelay::log(int id, int code)
{
    std::string text = ctl("log " + std::to_string(id));
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && (code < 0 || logField(line, "code") == std::to_string(code)))
            lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string LabRelay::screenshot(const std::string& name)
{
    const char* display = getenv("DISPLAY");
    int status = -1;
    std::string output;
    if (!display || !request("shot\n" + std::string(display) + "\n" + name + "\n", &status, &output) || status != 0)
        return "";
    return output.substr(0, output.find('\n'));
}

std::string logField(const std::string& line, const std::string& key)
{
    std::string pattern = " " + key + "=";
    size_t at = line.find(pattern);
    if (at == std::string::npos)
        return "";
    at += pattern.size();
    size_t end = line.find(' ', at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}
