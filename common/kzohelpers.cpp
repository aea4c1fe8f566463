#include "kzohelpers.h"

#include <stdio.h>

#include <exception>

#include <boost/algorithm/string/predicate.hpp>

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

// The schemes of pages the plugin serves; each is followed by "://".
const char* const kWebSchemes[] = {"http", "https"};

bool hasWebScheme(const std::string& address)
{
    for (const char* scheme : kWebSchemes) {
        const std::string prefix = std::string(scheme) + "://";
        if (address.size() >= prefix.size() &&
            boost::algorithm::iequals(address.substr(0, prefix.size()), prefix))
            return true;
    }
    return false;
}

bool holdsControlByte(const std::string& text)
{
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return true;
    }
    return false;
}

// The host of a web page's address, lower case; empty when the address is
// not http or https, has no host, its host holds a control byte (a NUL
// included) or it does not parse.
std::string hostOf(const std::string& address)
{
    if (!hasWebScheme(address))
        return std::string();
    try {
        const std::string host = FB::URI(address).domain;
        return holdsControlByte(host) ? std::string() : host;
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
