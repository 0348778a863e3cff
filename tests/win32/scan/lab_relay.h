// The lab as the lab suites (scan, devcfg) see it: whether they run inside it, and the
// simulated devices, reached through the files run_in_lab.sh relays.
#pragma once

#include <string>
#include <vector>

class LabRelay {
public:
    // The relay of this run, or null outside the lab: the tests that send
    // datagrams skip then. Inside means: run_in_lab.sh named a relay folder
    // and every IPv4 address of this machine's adapters is a lab address.
    static LabRelay* get(std::string* why);

    // Restarts devsim in the device namespace with `config` (and extra
    // command-line words). Returns false with the reason in *error.
    bool startDevices(const std::string& config, const std::string& args = "", std::string* error = nullptr);
    // Ends devsim: no device answers.
    bool stopDevices();
    // One devsim control command; returns its output, *ok tells OK from ERR.
    std::string ctl(const std::string& command, bool* ok = nullptr);
    // The log lines of device `id` (1-based), optionally only those with `code`.
    std::vector<std::string> log(int id, int code = -1);
    // Saves the virtual display as build/<...>/NAME.png; returns the Unix path.
    std::string screenshot(const std::string& name);

private:
    explicit LabRelay(const std::string& folder) : folder_(folder) {}
    // One request and its answer: the first answer line is the exit status.
    bool request(const std::string& text, int* status, std::string* output, unsigned timeoutMs = 20000);
    std::string folder_;   // Windows path of the relay folder
    unsigned next_ = 0;
};

// A field of a devsim log line ("code=19" -> "19"); "" when absent.
std::string logField(const std::string& line, const std::string& key);
