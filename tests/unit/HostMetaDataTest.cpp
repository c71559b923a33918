// The host queries against the system's own tools, run on this machine.
#include <gtest/gtest.h>

#include <limits.h>
#include <netinet/in.h>
#include <stdio.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "core/hmd/HostMetaDataQueries.h"

using namespace KvoCore;
using Query = bool (*)(CHostMetaDataQueryResult&, int, const wxString&);

namespace {

// Lines "key<TAB>value" of a shell command, by key.
std::map<std::string, std::string> Oracle(const char* command) {
    std::map<std::string, std::string> rows;
    FILE* pipe = popen(command, "r");
    char line[4096];
    while (pipe && fgets(line, sizeof line, pipe)) {
        std::string text(line, strcspn(line, "\n"));
        size_t tab = text.find('\t');
        rows[text.substr(0, tab)] = tab == std::string::npos ? "" : text.substr(tab + 1);
    }
    if (pipe) pclose(pipe);
    return rows;
}

// An attribute's values joined with ","; empty when absent.
std::string Joined(const CHostMetaData& object, const char* name) {
    for (const auto& [attribute, values] : object.GetAttributes())
        if (attribute == name) return wxJoin(values, ',', 0).utf8_string();
    return std::string();
}

// The objects of result, filled by query, by key; each key once.
std::map<std::string, const CHostMetaData*> ByKey(Query query, CHostMetaDataQueryResult& result) {
    EXPECT_TRUE(query(result, 0, wxString()));
    std::map<std::string, const CHostMetaData*> byKey;
    for (const auto& object : result) EXPECT_TRUE(byKey.emplace(object->GetKey().utf8_string(), object.get()).second);
    return byKey;
}

}  // namespace

TEST(HostMetaData, KeysAndValuesMatchTheSystemTools) {
    // The attributes' values joined with ":" against the tool's fields.
    const struct {
        Query query;
        std::vector<const char*> attributes;
        const char* command;
    } cases[] = {
        {GetHmdUsers, {"user", "group", "homeFolder", "logonShell"},
         "getent passwd | awk -F: '{print $1 \"\\t\" $3 \":\" $4 \":\" $6 \":\" $7}'"},
        {GetHmdGroups, {"group", "members"}, "getent group | awk -F: '{print $1 \"\\t\" $3 \":\" $4}'"},
        {GetHmdInstalledSoftware, {"version", "manufacturer", "parent"},
         "dpkg-query -W -f='${db:Status-Abbrev}\\t${binary:Package}\\t${Version}:${Maintainer}:${source:Package}\\n'"
         " | awk -F'\\t' '$1 ~ /^ii/ {print $2 \"\\t\" $3}'"},
    };
    for (const auto& c : cases) {
        std::map<std::string, std::string> expected = Oracle(c.command), got;
        ASSERT_GT(expected.size(), 1u) << c.command;
        CHostMetaDataQueryResult result;
        for (const auto& [key, object] : ByKey(c.query, result))
            for (const char* attribute : c.attributes)
                got[key] += (attribute == c.attributes[0] ? "" : ":") + Joined(*object, attribute);
        std::string differences;
        for (const auto& [key, value] : expected)
            if (got[key] != value) differences += "\n" + key + ": " + got[key] + " instead of " + value;
        for (const auto& [key, value] : got)
            if (!expected.count(key)) differences += "\n" + key + " not listed by the tool";
        EXPECT_EQ("", differences) << c.command;
    }
}

TEST(HostMetaData, RootAccount) {
    CHostMetaDataQueryResult result;
    auto users = ByKey(GetHmdUsers, result);
    ASSERT_TRUE(users.count("root"));
    const CHostMetaData& root = *users["root"];
    for (const auto& [name, value] : std::map<const char*, const char*>{
             {"user", "0"}, {"userFriendly", "root"}, {"group", "0"}, {"groupFriendly", "root"}, {"disabled", "false"}})
        EXPECT_EQ(value, Joined(root, name)) << name;
    for (const char* shadow : {"passwordLastChanged", "passwordNeverExpires", "passwordHasExpired", "lockedOut"})
        EXPECT_EQ(geteuid() == 0, !Joined(root, shadow).empty()) << shadow;
}

TEST(HostMetaData, OwnSocketsAndProcess) {
    const std::string pid = std::to_string(getpid());
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    const std::string exe(path, length > 0 ? length : 0);
    // key -> descriptor, listener; IPv4 TCP and IPv6 UDP, so both tables and address forms are read.
    std::map<std::string, std::pair<int, std::string>> own;
    for (bool tcp : {true, false}) {
        int fd = socket(tcp ? AF_INET : AF_INET6, tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
        sockaddr_in v4{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        sockaddr_in6 v6{AF_INET6, 0, 0, in6addr_loopback, 0};
        sockaddr* address = tcp ? reinterpret_cast<sockaddr*>(&v4) : reinterpret_cast<sockaddr*>(&v6);
        socklen_t size = tcp ? sizeof v4 : sizeof v6;
        ASSERT_EQ(0, bind(fd, address, size));
        ASSERT_TRUE(!tcp || listen(fd, 1) == 0);
        getsockname(fd, address, &size);
        std::string port = std::to_string(ntohs(tcp ? v4.sin_port : v6.sin6_port));
        own[(tcp ? "tcp/" : "udp/") + port] = {fd, (tcp ? "127.0.0.1:" : "[::1]:") + port};
    }
    // Other processes open and close ports meanwhile: every port of both
    // oracle runs is reported, every port reported is in one of them, and a
    // mismatch is looked at again a few times before it counts.
    const char* ss = "ss -H -ltnu | awk '{n = split($5, a, \":\"); if (a[n] != \"*\") print $1 \"/\" a[n]}'";
    CHostMetaDataQueryResult portResult, processResult;
    std::map<std::string, const CHostMetaData*> ports;
    std::string mismatches = "?";
    for (int attempt = 0; attempt < 5 && !mismatches.empty(); ++attempt) {
        std::map<std::string, std::string> before = Oracle(ss);
        ports = ByKey(GetHmdListenPorts, portResult);
        std::map<std::string, std::string> after = Oracle(ss);
        mismatches.clear();
        for (const auto& [key, unused] : before)
            if (after.count(key) && !ports.count(key)) mismatches += " missing " + key;
        for (const auto& [key, object] : ports)
            if (!before.count(key) && !after.count(key)) mismatches += " invented " + key;
    }
    EXPECT_EQ("", mismatches);
    for (const auto& [key, socket] : own) {
        ASSERT_TRUE(ports.count(key)) << key;
        EXPECT_EQ(socket.second, Joined(*ports[key], "listeners"));
        EXPECT_EQ(pid, Joined(*ports[key], "processId"));
        EXPECT_EQ(exe, Joined(*ports[key], "path"));
        EXPECT_EQ(std::to_string(getuid()), Joined(*ports[key], "userId"));
        close(socket.first);
    }
    auto processes = ByKey(GetHmdRunningProcesses, processResult);
    ASSERT_TRUE(processes.count(exe)) << exe;
    EXPECT_NE(std::string::npos, ("," + Joined(*processes[exe], "processId") + ",").find("," + pid + ","));
}
