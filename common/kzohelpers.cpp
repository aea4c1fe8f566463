#include "kzohelpers.h"

#include <stdio.h>

#include <exception>

#include "FBSystem.h"
#include "URI.h"
#include "talk/base/logging.h"

namespace {

// The project's one version number (CMake).
const char kPluginVersion[] = FB_PLUGIN_VERSION;
const char kMasterPluginDir[] = "/usr/lib64/mozilla/plugins";
const char kMasterPluginName[] = "vudiriveze";

const char kVendorDir[] = "Tarnwell";
const char kPluginDirName[] = "okzoinstallplugin";
const char kLegacyProductName[] = "Lintel";

// The vendor's domains, one row each.
const char kVendorDomains[][50] = {
    "otarnwell.com",
    "tarnwellmeet.com",
    "tarnwellconf.com",
};

// The version pipeline's line buffer: at most 49 bytes of the first line.
const int kVersionLineSize = 50;

std::vector<std::string> domainList(const std::string& suffix)
{
    std::vector<std::string> list;
    for (const char* domain : kVendorDomains)
        list.push_back(domain + suffix);
    return list;
}

// The home directory followed by "/.".
std::string userDataDir()
{
    return FB::System::getUserDataDirPath("");
}

// The host of a page address, lower case; empty when it has none or does
// not parse.
std::string hostOf(const std::string& address)
{
    try {
        return FB::URI(address).domain;
    } catch (const std::exception&) {
        return std::string();
    }
}

} // namespace

const std::vector<std::string> allowedDomains = domainList("");
const std::vector<std::string> blockedDomains = domainList(".");

std::string getPluginVersion()
{
    return kPluginVersion;
}

std::string getMasterPluginDir()
{
    return kMasterPluginDir;
}

std::string getMasterPluginName()
{
    return kMasterPluginName;
}

std::string getConfigDir()
{
    return userDataDir() + "/.config/" + kVendorDir;
}

std::string getPluginDataDir()
{
    return getConfigDir() + "/" + kPluginDirName;
}

std::string getDownloadsDir()
{
    return getPluginDataDir() + "/downloads";
}

std::string getLogsDir()
{
    return getPluginDataDir() + "/logs";
}

std::string getLegacyProductDir()
{
    return userDataDir() + "/" + kVendorDir + "/" + kLegacyProductName;
}

std::string getMasterPluginVersion()
{
    std::string version;
    std::string command = "ls ";
    LOG(LS_INFO) << "Onyx plugin" << command;
    std::string dir = getMasterPluginDir();
    quoteString(dir);
    command += dir + "| grep -i " + getMasterPluginName() +
               " | cut -d '_' -f2 | cut -d '.' -f1-4";
    LOG(LS_INFO) << "Command is " << command;

    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        LOG(LS_INFO) << "Failed to get master plugin version";
        return version;
    }
    char line[kVersionLineSize];
    if (fgets(line, sizeof(line), pipe)) {
        LOG(LS_INFO) << "Master plugin version is " << line;
        version = line;
    }
    pclose(pipe);
    return version;
}

bool isValidSite(const std::string& address)
{
    const std::string host = hostOf(address);
    bool valid = false;
    if (!host.empty()) {
        for (const std::string& domain : allowedDomains) {
            if (host == domain || endsWith(host, "." + domain)) {
                valid = true;
                break;
            }
        }
    }
    for (const std::string& blocked : blockedDomains) {
        if (address.find(blocked) != std::string::npos) {
            valid = false;
            break;
        }
    }
    return valid;
}

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void quoteString(std::string& text)
{
    text = "\"" + text + "\"";
}
