// The installer's fixed facts and small services: its version, the per-user
// directories, where the vendor's main browser plugin lives and how its
// version is read, and the check of a page address against the vendor's
// sites.
//
// The per-user paths are built on FB::System::getUserDataDirPath("") (the
// home directory followed by "/.") and pass on its std::runtime_error.
// getMasterPluginVersion runs a shell pipeline and blocks until its first
// line; it may run on any thread. The site lists are built at load time and
// only read afterwards, so every function here may be called from any thread.
#ifndef KZOHELPERS_H
#define KZOHELPERS_H

#include <string>
#include <vector>

std::string getPluginVersion();
std::string getMasterPluginDir();
std::string getMasterPluginName();

std::string getConfigDir();
std::string getPluginDataDir();
std::string getDownloadsDir();
std::string getLogsDir();
// The directory of an older product that the log set-up removes.
std::string getLegacyProductDir();

// The first line (newline included) that the version pipeline prints for
// the main plugin's file, at most 49 bytes; empty when there is none.
std::string getMasterPluginVersion();

// True when the page address is http or https ("://" after the scheme, in
// any case), its host holds no control byte and is one of the vendor's
// domains or a name under one, and no blocked entry occurs in the address.
bool isValidSite(const std::string& address);

// The vendor's domains, and the same each followed by ".".
extern const std::vector<std::string> allowedDomains;
extern const std::vector<std::string> blockedDomains;

bool endsWith(const std::string& text, const std::string& suffix);
// Puts a double quote before and after the text.
void quoteString(std::string& text);

#endif
