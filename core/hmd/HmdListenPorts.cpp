#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <set>

#include "core/Utilities.h"
#include "core/hmd/HmdProcfs.h"
#include "core/hmd/HostMetaDataQueries.h"

namespace KvoCore {

namespace {

struct SocketTable {
    const char* path;
    const char* protocol;
    const char* boundState;  // TCP: listening; UDP: bound and not connected
    bool ipv6;
};

const SocketTable kTables[] = {
    {"/proc/net/tcp", "tcp", "0A", false},
    {"/proc/net/tcp6", "tcp", "0A", true},
    {"/proc/net/udp", "udp", "07", false},
    {"/proc/net/udp6", "udp", "07", true},
};

struct Port {
    std::set<std::string> listeners;
    std::set<long long> pids;
};

// The kernel prints addresses as 32-bit words in host byte order.
bool FormatAddress(const std::string& hex, bool ipv6, std::string& text) {
    unsigned char bytes[16];
    const size_t words = ipv6 ? 4 : 1;
    if (hex.size() != words * 8) return false;
    for (size_t i = 0; i < words; ++i) {
        uint32_t word = static_cast<uint32_t>(strtoul(hex.substr(i * 8, 8).c_str(), nullptr, 16));
        memcpy(bytes + i * 4, &word, 4);
    }
    char buffer[INET6_ADDRSTRLEN];
    if (!inet_ntop(ipv6 ? AF_INET6 : AF_INET, bytes, buffer, sizeof buffer)) return false;
    text = ipv6 ? std::string("[") + buffer + "]" : std::string(buffer);
    return true;
}

// Adds the table's bound sockets to ports, and their inodes to owners; false
// when the table cannot be read.
bool ReadTable(const SocketTable& table, std::map<std::string, Port>& ports,
               std::map<unsigned long long, std::string>& inodes) {
    std::string content;
    if (!ReadWholeFile(table.path, content)) return false;
    std::vector<std::string> lines = SplitLines(content);
    for (size_t i = 1; i < lines.size(); ++i) {
        // sl local rem st tx:rx tr:when retrnsmt uid timeout inode
        std::vector<std::string> words = SplitWords(lines[i]);
        if (words.size() < 10 || words[3] != table.boundState) continue;
        size_t colon = words[1].find(':');
        std::string address;
        if (colon == std::string::npos || !FormatAddress(words[1].substr(0, colon), table.ipv6, address)) continue;
        unsigned long port = strtoul(words[1].substr(colon + 1).c_str(), nullptr, 16);
        long long inode;
        if (port == 0) continue;
        std::string key = std::string(table.protocol) + "/" + std::to_string(port);
        ports[key].listeners.insert(address + ":" + std::to_string(port));
        if (ParseDecimal(words[9], inode) && inode != 0) inodes[static_cast<unsigned long long>(inode)] = key;
    }
    return true;
}

void FindOwners(std::map<std::string, Port>& ports, const std::map<unsigned long long, std::string>& inodes) {
    if (inodes.empty()) return;
    for (long long pid : ListProcessIds())
        for (unsigned long long inode : ReadSocketInodes(pid)) {
            auto found = inodes.find(inode);
            if (found != inodes.end()) ports[found->second].pids.insert(pid);
        }
}

void AppendOwner(CHostMetaData& object, const HmdProcess& process, const HmdIdNames& names, long long bootTime) {
    object.AppendAttribute("processId", toDecimalString(process.pid));
    object.AppendAttribute("process", BytesToText(process.name));
    if (process.hasExe) object.AppendAttribute("path", BytesToText(process.exe));
    AppendProcessOwner(object, process, names);
    wxString created = ProcessStartText(process, bootTime);
    if (!created.empty()) object.AppendAttribute("created", created);
}

}  // namespace

bool GetHmdListenPorts(CHostMetaDataQueryResult& result, int /*flags*/, const wxString& /*format*/) {
    result.Clear();
    std::map<std::string, Port> ports;
    std::map<unsigned long long, std::string> inodes;
    bool readAny = false;
    for (const SocketTable& table : kTables) readAny |= ReadTable(table, ports, inodes);
    if (!readAny) return false;
    FindOwners(ports, inodes);
    HmdIdNames names;
    names.Load();
    long long bootTime = 0;
    ReadBootTime(bootTime);

    for (const auto& [key, port] : ports) {
        auto object = std::make_unique<CHostMetaData>("Port", BytesToText(key));
        for (const std::string& listener : port.listeners) object->AppendAttribute("listeners", BytesToText(listener));
        HmdProcess process;
        for (long long pid : port.pids)
            if (ReadHmdProcess(pid, true, process)) AppendOwner(*object, process, names, bootTime);
        result.Add(std::move(object));
    }
    result.SortByKey();
    return true;
}

}  // namespace KvoCore
